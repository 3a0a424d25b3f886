#include "mainwindowform.h"

#include <QMainWindow>
#include <QProxyStyle>

namespace {

// Tabs padded less than the style's default, so that the five pages'
// captions fit the fixed window's tab bar without scroll arrows, and a tool
// bar with narrower separators and no gaps, so that all of it fits.
class CompactStyle : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        switch (metric) {
        case PM_TabBarTabHSpace:
            return 12;
        case PM_ToolBarSeparatorExtent:
            return 4;
        case PM_ToolBarItemSpacing:
            return 0;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

void SetPointSize(QWidget *widget, qreal points)
{
    QFont font = widget->font();
    font.setPointSizeF(points);
    widget->setFont(font);
}

}  // namespace

void MainWindowForm::setup(QMainWindow *window)
{
    // The generated build ends with the text pass and then selects page 0.
    setupUi(window);
    FitFixedLayout();
}

void MainWindowForm::retranslate(QMainWindow *window)
{
    retranslateUi(window);
}

void MainWindowForm::FitFixedLayout()
{
    // The window's size is fixed: its captions are made to fit by the
    // metrics, never by cutting them.
    auto *style = new CompactStyle;
    style->setParent(tabWidget);
    tabWidget->tabBar()->setStyle(style);
    tabWidget->setUsesScrollButtons(false);
    mainToolBar->setStyle(style);

    // The calibration page's four buttons share one row: a smaller font and
    // narrower page margins instead of the spacer before them.
    for (QPushButton *button : {pushButtonApplyCalibr_2, pushButtonReadCalibr_2, pushButtonReadCalibr,
                                pushButtonApplyCalibr})
        SetPointSize(button, 7.5);
    horizontalSpacer_23->changeSize(0, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
    gridLayout_7->setContentsMargins(3, 11, 3, 11);
    gridLayout_7->setHorizontalSpacing(2);
    gridLayout_7->invalidate();
}

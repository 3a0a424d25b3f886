#include "logpane.h"
#include "testmain.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

// A read-only pane of a few lines, on screen.
static bool Show(QTextEdit &pane)
{
    pane.setReadOnly(true);
    pane.resize(300, 120);
    pane.show();
    return QTest::qWaitForWindowExposed(&pane);
}

class TestLogPane : public QObject
{
    Q_OBJECT

private slots:
    // A click or a selection while recording never splits a line.
    void appendsAtTheEndWhateverTheOperatorSelected()
    {
        QTextEdit pane;
        QVERIFY(Show(pane));
        AppendToPane(&pane, "5.000 0.2500\n");
        AppendToPane(&pane, "5.010 0.2510\n");
        // A click in the middle of the first line.
        const int firstLineY = pane.cursorRect(QTextCursor(pane.document())).center().y();
        QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(30, firstLineY));
        QVERIFY(pane.textCursor().position() > 0 && pane.textCursor().position() < 12);
        AppendToPane(&pane, "5.020 0.2520\n");
        QTextCursor selection = pane.textCursor();
        selection.setPosition(2);
        selection.setPosition(20, QTextCursor::KeepAnchor);
        pane.setTextCursor(selection);
        AppendToPane(&pane, "5.030 0.2530\n");
        QCOMPARE(pane.toPlainText(),
                 QStringLiteral("5.000 0.2500\n5.010 0.2510\n5.020 0.2520\n5.030 0.2530\n"));
    }

    // The operator scrolled up or selected text: new lines neither move the
    // view nor clear the selection; back at the end, the view follows again.
    void scrolledUpOrSelectedTextStaysPut()
    {
        QTextEdit pane;
        QVERIFY(Show(pane));
        for (int i = 0; i < 100; ++i)
            AppendToPane(&pane, QStringLiteral("%1\n").arg(i));
        QScrollBar *bar = pane.verticalScrollBar();
        bar->setValue(bar->maximum() / 3);
        const int scrolled = bar->value();
        AppendToPane(&pane, "100\n");
        QCOMPARE(bar->value(), scrolled);

        bar->setValue(bar->maximum());
        QTextCursor selection(pane.document());
        selection.setPosition(3);
        selection.setPosition(8, QTextCursor::KeepAnchor);
        pane.setTextCursor(selection);
        AppendToPane(&pane, "101\n");
        QCOMPARE(std::make_pair(pane.textCursor().selectionStart(), pane.textCursor().selectionEnd()), std::make_pair(3, 8));

        // Selection gone and the view at the end: following again.
        pane.setTextCursor(QTextCursor(pane.document()));
        bar->setValue(bar->maximum());
        for (int i = 102; i < 110; ++i)
            AppendToPane(&pane, QStringLiteral("%1\n").arg(i));
        QVERIFY(pane.viewport()->rect().contains(pane.cursorRect()));
        QVERIFY(pane.cursorForPosition(QPoint(5, pane.viewport()->height() - 8)).blockNumber() >= 109);
    }
};

PANEL_TEST_MAIN(TestLogPane)
#include "tst_logpane.moc"

#include "dialogsettingslog.h"
#include "testmain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QRadioButton>
#include <QSettings>
#include <QTimeEdit>

namespace {
// Every key of the store with its value, wherever the platform keeps them (a
// file, or on Windows the registry).
QVariantMap Stored()
{
    QSettings settings = SettingsStore();
    QVariantMap values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

// The options as one value, in their declared order.
std::tuple<int, bool, QTime, int, bool> Fields(const LogSettings &o)
{
    return {o.LogValue, o.commeDotLog, o.LogPeriod, o.TimeForm, o.AddTime};
}
}

class TestDialogSettingsLog : public QObject
{
    Q_OBJECT

    template <typename T>
    static T *child(DialogSettingsLog &dialog, const char *name)
    {
        T *widget = dialog.findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("missing widget %s", name);
        return widget;
    }

    // Sets every option away from its default.
    static void changeAll(DialogSettingsLog &dialog)
    {
        child<QRadioButton>(dialog, "radioButtonComme")->click();
        child<QTimeEdit>(dialog, "timeEdit")->setTime(QTime(0, 2, 30));
        child<QComboBox>(dialog, "comboBoxLogValue")->setCurrentIndex(1);
        child<QComboBox>(dialog, "comboBoxTimeForm")->setCurrentIndex(3);
        child<QCheckBox>(dialog, "checkBoxAddTime")->setChecked(true);
    }

private slots:
    void init()
    {
        QSettings settings = SettingsStore();
        settings.clear();
    }

    // Escape keeps what the widgets show, as a close does: they act on the
    // log either way, so the store must not fall behind them. The next
    // dialog reads it back.
    void escapeStoresWhatTheWidgetsShow()
    {
        {
            DialogSettingsLog dialog;
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            changeAll(dialog);
            LogSettings options;
            dialog.GetSettings(options);  // acts while the dialog is still open
            QCOMPARE(std::make_pair(options.TimeForm, options.LogPeriod), std::make_pair(3, QTime(0, 2, 30)));
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
        }
        QCOMPARE(SettingsStore().value("LogPeriod").type(), QVariant::Time);
        DialogSettingsLog next;
        LogSettings options;
        next.GetSettings(options);
        QCOMPARE(Fields(options), std::make_tuple(1, true, QTime(0, 2, 30), 3, true));
        QVERIFY(!child<QRadioButton>(next, "radioButtonDot")->isChecked());
    }

    // Out of range or unreadable: each loads as its default, and the store
    // is not touched until the dialog is closed.
    void badStoredValuesLoadAsDefaults()
    {
        {
            QSettings settings = SettingsStore();
            settings.setValue("LogValue", 99);
            settings.setValue("TimeForm", -5);
            settings.setValue("LogPeriod", QTime(0, 30, 0));
            settings.setValue("commeDotLog", "maybe");
            settings.setValue("AddTime", "yes");
        }
        const QVariantMap before = Stored();

        DialogSettingsLog dialog;
        LogSettings options;
        dialog.GetSettings(options);
        QCOMPARE(Fields(options), std::make_tuple(0, false, QTime(0, 0, 1), 0, false));
        QCOMPARE(Stored(), before);

        dialog.show();
        dialog.close();
        QCOMPARE(SettingsStore().value("LogValue").toInt(), 0);
        QCOMPARE(SettingsStore().value("LogPeriod").toTime(), QTime(0, 0, 1));
        QCOMPARE(SettingsStore().value("commeDotLog").toString(), QStringLiteral("false"));
    }

    void longestPeriodIsKept()
    {
        SettingsStore().setValue("LogPeriod", QTime(0, 10, 0));
        DialogSettingsLog dialog;
        LogSettings options;
        dialog.GetSettings(options);
        QCOMPARE(options.LogPeriod, QTime(0, 10, 0));
    }
};

PANEL_TEST_MAIN(TestDialogSettingsLog)
#include "tst_dialogsettingslog.moc"

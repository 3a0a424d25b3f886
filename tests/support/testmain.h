#pragma once

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// Points the settings store, the home directory, the temporary directory,
// the folder of the shared line's sockets and the D-Bus system bus at a
// temporary directory of the test's own before the application object
// exists, so that no test touches a real user's files or services, and
// selects the offscreen platform when none was chosen.
// The programs a test starts inherit them: the local sockets of their shared
// lines are the test's alone, never those of a window or another test running
// beside it.
class IsolatedEnvironment
{
public:
    IsolatedEnvironment()
    {
        const QByteArray path = root.path().toLocal8Bit();
        qputenv("XDG_CONFIG_HOME", path + "/config");
        qputenv("HOME", path + "/home");
        qputenv("TMPDIR", path + "/tmp");
        QDir().mkpath(root.path() + "/config");
        QDir().mkpath(root.path() + "/home");
        QDir().mkpath(root.path() + "/tmp");
        qputenv("XDG_RUNTIME_DIR", path + "/run");
        QDir().mkpath(root.path() + "/run");
        QFile::setPermissions(root.path() + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                        | QFileDevice::ExeOwner);
        // No system bus: a program under test never reaches the machine's
        // own D-Bus, nor advertises through its Avahi daemon.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path + "/run/no-system-bus");
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QString path() const { return root.path(); }

private:
    QTemporaryDir root;
};

// The store the window and its dialogs keep their settings in.
inline QSettings SettingsStore()
{
    return QSettings(QStringLiteral("norvel"), QStringLiteral("TK4810M"));
}

#define PANEL_TEST_MAIN(TestClass)                 \
    int main(int argc, char **argv)                \
    {                                              \
        IsolatedEnvironment isolated;              \
        QApplication app(argc, argv);              \
        TestClass test;                            \
        return QTest::qExec(&test, argc, argv);    \
    }

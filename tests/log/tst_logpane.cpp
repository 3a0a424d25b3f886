#include "logpane.h"
#include "testmain.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

class TestLogPane : public QObject
{
    Q_OBJECT

private slots:
    void linesAccumulateAtTheEnd()
    {
        QTextEdit pane;
        pane.setReadOnly(true);  // as the log pane: read-only for the operator only
        AppendToPane(&pane, "5.000 0.2500\n");
        AppendToPane(&pane, "5,000 0,2500\n");
        QCOMPARE(pane.toPlainText(), QStringLiteral("5.000 0.2500\n5,000 0,2500\n"));
        QCOMPARE(pane.textCursor().position(), pane.document()->characterCount() - 1);
        QVERIFY(!pane.textCursor().hasSelection());
    }

    void insertsWhereTheOperatorPutTheCursor()
    {
        QTextEdit pane;
        pane.setPlainText("a\nb\n");
        QTextCursor cursor = pane.textCursor();
        cursor.setPosition(2);  // start of "b"
        cursor.setPosition(3, QTextCursor::KeepAnchor);
        pane.setTextCursor(cursor);
        AppendToPane(&pane, "x\n");  // replaces the selection, then goes to the end
        AppendToPane(&pane, "y\n");
        QCOMPARE(pane.toPlainText(), QStringLiteral("a\nx\n\ny\n"));
    }

    void viewFollowsTheNewestLine()
    {
        QTextEdit pane;
        pane.resize(300, 120);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        for (int i = 0; i < 200; ++i)
            AppendToPane(&pane, QStringLiteral("%1\n").arg(i));
        QScrollBar *bar = pane.verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QTRY_VERIFY(bar->value() > 0);
        QVERIFY(pane.viewport()->rect().contains(pane.cursorRect()));
        QVERIFY(pane.cursorForPosition(QPoint(5, pane.viewport()->height() - 8)).blockNumber() >= 199);
    }
};

PANEL_TEST_MAIN(TestLogPane)
#include "tst_logpane.moc"

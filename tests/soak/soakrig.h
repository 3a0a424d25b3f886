#pragma once

#include "virtualsupply.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class BoxWatcher;
class MainWindow;
class OperatorScript;
class ReplyLedger;
class WindowView;

// One window on its own faulty, traceable supply, with an operator at it and
// a watch on everything it shows: every few milliseconds each page must show
// what the operator typed or what one intact reply of its own command said.
class SoakRig : public QObject
{
    Q_OBJECT

public:
    // logsAdc: the log records the converter readings rather than the displays.
    SoakRig(const VirtualSupply::Options &options, bool logsAdc, const BoxWatcher *boxes,
            QObject *parent = nullptr);
    ~SoakRig() override;

    bool open(QString *error);
    void connectWindow();
    bool connected() const;
    void startOperator();
    void stopOperator();

    // Log lines whose values no reply of the logged command gave.
    QStringList foreignLogLines() const;

    VirtualSupply *supply() const { return supplyPtr.get(); }
    MainWindow *window() const { return windowPtr.get(); }
    const ReplyLedger *ledger() const { return ledgerPtr.get(); }
    const OperatorScript *script() const { return scriptPtr.get(); }

    int samples = 0;
    int foreignShown = 0;  // samples in which a page showed a foreign value
    QStringList foreignExamples;

private slots:
    void sample();

private:
    void check(const char *page, const QString &shown, const QSet<QString> &sent,
               const QString &typed);

    std::unique_ptr<VirtualSupply> supplyPtr;
    std::unique_ptr<MainWindow> windowPtr;
    std::unique_ptr<WindowView> view;
    std::unique_ptr<ReplyLedger> ledgerPtr;
    std::unique_ptr<OperatorScript> scriptPtr;
    bool logsAdc;
    QString initialStatus, initialMeasurements;
    QTimer sampler;
};

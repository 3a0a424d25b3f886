#pragma once

#include "linemember.h"
#include "records.h"

#include <QList>
#include <QWidget>

class DeviceLink;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The supplies on the window's line, in a window of their own: the addresses
// a scan found, each with its live status and the programs working with it.
// Its reads are made on the main window's poll tick, one at a time (Step),
// so the wire keeps the window's cadence; live readings only while shown.
class LineView : public QWidget
{
    Q_OBJECT

public:
    // Who a program on the line is and what it does, in the window's
    // language: "velkaro, окно (pid 12)".
    static QString MemberWords(const LineMember &member);
    explicit LineView(QWidget *parent = nullptr);

    // A scan goes on, or the view is shown with supplies to read.
    bool WantsRead() const;
    // One read: the next address of a scan, or the next found supply's status.
    void Step(DeviceLink &link);
    void ShowMembers(const QList<LineMember> &members);
    // A line that closes stops a scan, and no reading is live any more.
    void SetConnected(bool connected);

    enum Column { AddressColumn, VoltsColumn, AmperesColumn, ModeColumn, OutputColumn, WhoColumn, Columns };

protected:
    // Hidden, the view is not read: what it shows is no longer live.
    void hideEvent(QHideEvent *event) override;

signals:
    // The operator chose a supply for the panel.
    void addressChosen(int address);

private slots:
    void ScanClicked();
    void RowChosen(int row);

private:
    int RowOf(quint8 address) const;
    int AddRow(quint8 address);
    void ShowStatus(int row, const StatusRecord &status);
    // Dims a row's readings: they are no longer live.
    void ShowStale(int row);
    void ShowWho(int row);
    void ShowScanState();

    QSpinBox *fromBox = nullptr;
    QSpinBox *toBox = nullptr;
    QPushButton *scanButton = nullptr;
    QLabel *scanLabel = nullptr;
    QTableWidget *table = nullptr;
    QList<LineMember> members;
    bool connected = false;
    bool scanning = false;
    int scanNext = 0;
    int scanLast = 0;
    int readNext = 0;  // the row read next, round-robin
};

#pragma once

#include <QObject>

#include <memory>

class DeviceLink;
class QSerialPort;
class SharedLine;
class SupplyStates;
struct PortFailure;

// The window's way to its supply: the port, the line shared with the user's
// other programs, the link over it, and which supply of the line is asked.
// Its serial counts connects, disconnects and changes of address, so that an
// exchange that was waiting when one of them came can tell it is stale.
class Connection : public QObject
{
    Q_OBJECT

public:
    explicit Connection(QObject *parent = nullptr);
    ~Connection() override;

    DeviceLink &Link() const { return *link; }
    SharedLine &Line() const { return *line; }
    SupplyStates *States() const { return states; }

    // Opens the port named, or attaches to the program serving it; on success
    // a new connection begins, knowing nothing of the supply.
    bool Open(const QString &portName, PortFailure *failure);
    // Tried again by name, quietly: a run reopening a lost port.
    bool Reopen(const QString &portName);
    // A line this window serves passes to the programs attached to it.
    void Close();
    bool IsConnected() const { return connected; }
    // Set when the port's device went away, until the next connect: the
    // exchange in flight then fails for that reason, and only the loss is told.
    bool PortLost() const { return portLost; }

    quint8 Address() const { return address; }
    void SetAddress(quint8 value) { address = value; }
    quint32 Serial() const { return serial; }
    // Nothing read before holds from now on: another supply, or the same one
    // switched or power-cycled meanwhile.
    void ForgetSupply();

    // Whether other programs share the line: they may change the supply.
    bool LineShared() const;

signals:
    // Everything read of the supply is stale; the pages and boxes start over.
    void supplyForgotten();
    // The port's device went away, or nobody could take the line over.
    void lost();

private slots:
    void PortWentAway();

private:
    void Begin();

    QSerialPort *port = nullptr;
    std::unique_ptr<DeviceLink> link;
    // The port as this user's programs share it; it goes before the link.
    std::unique_ptr<SharedLine> line;
    // What the line heard of each supply, from every user of it.
    SupplyStates *states = nullptr;
    // Until a disconnect or a lost port; a handover of the line keeps it.
    bool connected = false;
    bool portLost = false;
    quint8 address = 0;
    quint32 serial = 0;
};

#pragma once

#include "linkresult.h"
#include "records.h"

#include <QObject>

class Connection;
class MainWindowForm;

// The calibration and user parameter pages: read from the supply into their
// boxes, and written back from them.
class ParameterPages : public QObject
{
    Q_OBJECT

public:
    ParameterPages(Connection &connection, MainWindowForm *form, QObject *parent = nullptr);

    void LoadCalibration();
    void StoreCalibration();
    void LoadUserParams();
    void StoreUserParams();
    void EnableWrites(bool enabled);

public slots:
    void ForgetSupply();

signals:
    void readFailed(LinkResult result);
    void writeFailed(LinkResult result);

private:
    Connection &connection;
    MainWindowForm *form;
    CalibrationRecord calibration;
    UserParamRecord userParams;
};

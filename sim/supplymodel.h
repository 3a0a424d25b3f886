#pragma once

#include "records.h"

#include <QtGlobal>

#include <random>

// The power supply itself, without any I/O: set-points, output switch, a
// resistive load, the regulation that follows from them, internal
// measurements, a heat sink that warms with the dissipated power, and the
// calibration and user-parameter memories.
//
// Regulation: with the output on and a load of R ohms the supply holds the
// voltage set-point as long as the load draws less than the current limit
// (constant voltage, CV); otherwise it holds the current at the limit and the
// voltage drops to I*R (constant current, CC). A load of 0 or less ohms is an
// open circuit: CV with no current. Below 1 A the current is reported with
// 0.1 mA resolution (CurrentFine set).
//
// The DAC calibration (gain/1000 and offset) shapes the output, the ADC
// calibration shapes the measurements; the defaults are neutral. Status
// values are exact; measurements carry a little noise from an RNG seeded by
// the constructor, so a run is reproducible. Time only moves through
// advance().
class SupplyModel
{
public:
    explicit SupplyModel(quint32 seed = 1);

    int voltageSetMv() const { return setVoltageMv; }
    int currentSetMa() const { return setCurrentMa; }
    void setSetpoints(int millivolts, int milliamperes);

    bool outputOn() const { return output; }
    void setOutputOn(bool on) { output = on; }

    double loadOhms() const { return load; }
    void setLoadOhms(double ohms) { load = ohms; }

    // Noise on the measurements; off makes them exact, for tests.
    void setNoiseEnabled(bool enabled) { noise = enabled; }

    // Moves the model's clock on: the heat sink follows the dissipated power,
    // the life counter counts the seconds.
    void advance(qint64 milliseconds);
    qint64 uptimeMs() const { return uptime; }
    double temperatureCelsius() const { return temperature; }
    void setTemperatureCelsius(double celsius) { temperature = celsius; }

    // The operating point of the output after regulation.
    struct OperatingPoint {
        double millivolts = 0;
        double milliamperes = 0;
        bool constantCurrent = false;
    };
    OperatingPoint operatingPoint() const;
    double dissipatedWatts() const;

    StatusRecord status() const;
    MeasurementRecord measurements();  // draws noise
    SetpointRecord setpoints() const;

    CalibrationRecord calibration() const { return calib; }
    void setCalibration(const CalibrationRecord &values) { calib = values; }

    // LifeCounter is the supply's own: it is computed on reading and ignored
    // on writing.
    UserParamRecord userParams() const;
    void setUserParams(const UserParamRecord &values);

    static constexpr double AmbientCelsius = 25.0;
    // Heat sink: kelvin above ambient per watt, and its time constant.
    static constexpr double ThermalKelvinPerWatt = 3.0;
    static constexpr double ThermalTimeConstantS = 30.0;
    static constexpr int FineCurrentBelowMa = 1000;

private:
    double inputMv(double milliamperes) const;
    double pwmMv(const OperatingPoint &point) const;
    int jitter(int amplitude);

    int setVoltageMv = 5000;
    int setCurrentMa = 1000;
    bool output = false;
    double load = 10.0;
    bool noise = true;
    qint64 uptime = 0;
    double temperature = AmbientCelsius;
    CalibrationRecord calib;
    UserParamRecord user;
    std::mt19937 rng;
};

#pragma once

class QComboBox;
class QSettings;
class QSpinBox;

// The port and address of the last connection, offered again at start.
void LoadPortChoice(QSettings *settings, QComboBox *portBox, QSpinBox *addressBox);
void StorePortChoice(QSettings *settings, const QComboBox *portBox, const QSpinBox *addressBox);

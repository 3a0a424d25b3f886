#include "programfaultwords.h"

#include <QCoreApplication>

namespace {

// The texts are marked where they are chosen and translated where they are
// used.
QString Tr(const char *text)
{
    return QCoreApplication::translate("ProgramFaultWords", text);
}

// The units of the supply's ranges as the window writes them.
const char *UnitWord(const QString &unit)
{
    if (unit == QLatin1String("V"))
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "В");
    if (unit == QLatin1String("A"))
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "А");
    if (unit == QLatin1String("W"))
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "Вт");
    if (unit == QLatin1String("Ah"))
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "А·ч");
    if (unit == QLatin1String("Wh"))
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "Вт·ч");
    if (unit == QLatin1String("s"))
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "с");
    return nullptr;
}

const char *Wording(RunFaultKind kind)
{
    switch (kind) {
    case RunFaultKind::None: return "";
    case RunFaultKind::CannotRead:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "не удаётся прочитать %1: %2");
    case RunFaultKind::NotText: return QT_TRANSLATE_NOOP("ProgramFaultWords", "%1 — не текстовый файл");
    case RunFaultKind::UnbalancedQuote:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "двойная кавычка без пары");
    case RunFaultKind::UnknownColumn:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "неизвестный столбец «%1»");
    case RunFaultKind::ColumnTwice:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "столбец «%1» встречается дважды");
    case RunFaultKind::MissingColumn:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "в заголовке нет столбца «%1»");
    case RunFaultKind::FieldCount:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "полей %1, а в заголовке %2");
    case RunFaultKind::NoValue: return QT_TRANSLATE_NOOP("ProgramFaultWords", "нет значения для «%1»");
    case RunFaultKind::Voltage:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "напряжение «%1» — не число от %2 до %3 В");
    case RunFaultKind::VoltageBelowLowest:
        return QT_TRANSLATE_NOOP("ProgramFaultWords",
                                 "напряжение «%1» — не число от %2 до %3 В; наименьшая уставка источника — "
                                 "%2 В, поэтому подъём от 0 начинается с %2");
    case RunFaultKind::Current:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "ток «%1» — не число от %2 до %3 А");
    case RunFaultKind::Duration:
        return QT_TRANSLATE_NOOP("ProgramFaultWords",
                                 "длительность «%1» — не время больше 0 (секунды, мм:сс или чч:мм:сс)");
    case RunFaultKind::RampNotTime:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "подъём «%1» — не время (секунды, мм:сс или чч:мм:сс)");
    case RunFaultKind::RampTooLong: return QT_TRANSLATE_NOOP("ProgramFaultWords", "подъём «%1» длиннее шага");
    case RunFaultKind::Output: return QT_TRANSLATE_NOOP("ProgramFaultWords", "выход «%1» — не on и не off");
    case RunFaultKind::NoHeader:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "в программе нет строки заголовка");
    case RunFaultKind::NoSteps: return QT_TRANSLATE_NOOP("ProgramFaultWords", "в программе нет шагов");
    case RunFaultKind::ConditionForm:
        return QT_TRANSLATE_NOOP("ProgramFaultWords",
                                 "условие «%1» не в виде ВЕЛИЧИНА ОП ЧИСЛО (ОП — одно из < <= > >=)");
    case RunFaultKind::UnknownQuantity:
        return QT_TRANSLATE_NOOP("ProgramFaultWords",
                                 "неизвестная величина «%1» (voltage, current, power, temperature, charge, "
                                 "energy, elapsed, step_charge, step_energy или step_elapsed)");
    case RunFaultKind::ConditionNumber:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "«%1» в условии «%2» — не число");
    case RunFaultKind::ConditionRefused:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "условие «%1» не принято: %2");
    case RunFaultKind::NeverNegative:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "%1 не бывает меньше нуля");
    case RunFaultKind::OutsideRange:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "%1 %2 %3 — вне пределов источника, от %4 до %5 %3");
    case RunFaultKind::BeyondRange:
        return QT_TRANSLATE_NOOP("ProgramFaultWords", "%1 %2 %3 — больше предела источника, %4 %3");
    case RunFaultKind::NeverBelow: return QT_TRANSLATE_NOOP("ProgramFaultWords", "%1 не бывает меньше %2 %3");
    }
    return "";
}

// The unit's place among each kind's values.
int UnitIndex(RunFaultKind kind)
{
    switch (kind) {
    case RunFaultKind::OutsideRange:
    case RunFaultKind::BeyondRange:
    case RunFaultKind::NeverBelow: return 2;
    default: return -1;
    }
}

// Fills %1, %2... in one pass, so that a value holding "%1" stays as it is.
QString Filled(const QString &text, const QStringList &v)
{
    switch (v.size()) {
    case 0: return text;
    case 1: return text.arg(v.at(0));
    case 2: return text.arg(v.at(0), v.at(1));
    case 3: return text.arg(v.at(0), v.at(1), v.at(2));
    case 4: return text.arg(v.at(0), v.at(1), v.at(2), v.at(3));
    default: return text.arg(v.at(0), v.at(1), v.at(2), v.at(3), v.at(4));
    }
}

}  // namespace

QString ProgramFaultWords(const RunFault &fault)
{
    QStringList values = fault.values;
    const int unit = UnitIndex(fault.kind);
    if (unit >= 0 && unit < values.size() && UnitWord(values.at(unit)))
        values[unit] = Tr(UnitWord(values.at(unit)));
    if (fault.kind == RunFaultKind::ConditionRefused)
        values << ProgramFaultWords(RunFault{fault.reason, fault.reasonValues, RunFaultKind::None, {}});
    return Filled(Tr(Wording(fault.kind)), values);
}

QString ProgramFaultWords(const RunProgram &program)
{
    const QString words = ProgramFaultWords(program.fault);
    if (program.errorLine <= 0)
        return words;
    return Tr(QT_TRANSLATE_NOOP("ProgramFaultWords", "строка %1: %2"))
        .arg(QString::number(program.errorLine), words);
}

#pragma once

#include <QCoreApplication>
#include <QString>

struct PortFailure;

// Why a port did not open, in the window's language.
class PortFailureWords
{
    Q_DECLARE_TR_FUNCTIONS(PortFailureWords)

public:
    static QString Of(const PortFailure &failure);
};

#include "timerresolution.h"

TimerResolution::TimerResolution(QObject *parent)
    : QObject(parent)
{
}

TimerResolution::~TimerResolution() = default;

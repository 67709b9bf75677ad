#include "alerts/SoundOutput.h"

SoundOutput::SoundOutput(QObject *parent)
    : QObject(parent)
{ }

SoundOutput::~SoundOutput() = default;

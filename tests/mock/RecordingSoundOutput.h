#pragma once

#include "alerts/SoundOutput.h"

#include <QStringList>

// Records what was played. A preview "plays" until the test calls finishPreview().
class RecordingSoundOutput final : public SoundOutput
{
public:
    void playAsync(const QString &fileName) override { visits << fileName; }
    void playPreview(const QString &fileName) override { previews << fileName; }
    void finishPreview() { emit previewFinished(); }

    QStringList visits, previews;
};

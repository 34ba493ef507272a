#pragma once

#include "app/stages/StageDialog.h"

// The WAV-extraction and conversion stages: the converter for every row, up to the job's
// limit at once.
class Tbatchaudioc : public StageDialog {
    Q_OBJECT
public:
    explicit Tbatchaudioc(const QFont& font, QWidget* parent = nullptr);

protected:
    bool shows(Job::Stage stage) const override;
    void stageOpening(Job::Stage stage) override;
};

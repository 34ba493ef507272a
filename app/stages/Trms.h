#pragma once

#include "app/stages/StageDialog.h"

// The RMS stage: one normaliser run over every WAV copy of the job.
class Trms : public StageDialog {
    Q_OBJECT
public:
    explicit Trms(const QFont& font, QWidget* parent = nullptr);

protected:
    bool shows(Job::Stage stage) const override;
};

#pragma once

#include "app/stages/StageDialog.h"

// The peak stage: the highest level of every file, measured up to the job's limit at once.
class Tdetectpeak : public StageDialog {
    Q_OBJECT
public:
    explicit Tdetectpeak(const QFont& font, QWidget* parent = nullptr);

protected:
    bool shows(Job::Stage stage) const override;
};

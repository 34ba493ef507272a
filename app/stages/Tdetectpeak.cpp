#include "app/stages/Tdetectpeak.h"

Tdetectpeak::Tdetectpeak(const QFont& font, QWidget* parent)
    : StageDialog(QStringLiteral("Tdetectpeak"), 326, 79, font, parent)
{
}

bool Tdetectpeak::shows(Job::Stage stage) const
{
    return stage == Job::Stage::PeakMeasurement;
}

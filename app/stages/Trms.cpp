#include "app/stages/Trms.h"

Trms::Trms(const QFont& font, QWidget* parent)
    : StageDialog(QStringLiteral("Trms"), 333, 80, font, parent)
{
}

bool Trms::shows(Job::Stage stage) const
{
    return stage == Job::Stage::Normalisation;
}

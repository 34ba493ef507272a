#include "app/stages/Tbatchaudioc.h"

#include <QLabel>

Tbatchaudioc::Tbatchaudioc(const QFont& font, QWidget* parent)
    : StageDialog(QStringLiteral("Tbatchaudioc"), 347, 89, font, parent)
{
}

bool Tbatchaudioc::shows(Job::Stage stage) const
{
    return stage == Job::Stage::WavExtraction || stage == Job::Stage::Conversion || stage == Job::Stage::Check;
}

void Tbatchaudioc::stageOpening(Job::Stage stage)
{
    if (stage == Job::Stage::WavExtraction)
        Label1->setText(QStringLiteral("Prepare Audio Data......"));
    if (stage == Job::Stage::Check)
        Label1->setText(QStringLiteral("Checking outputs......"));
}

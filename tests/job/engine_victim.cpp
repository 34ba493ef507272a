// A program that runs one Gain job on the engine and nothing else, for a test to kill:
//   engine_victim OUTPUT_FOLDER SOURCE
// Its tools are those of $AURALON_WINDOWS_DIR, as the program's are.
#include "app/ProgramFolders.h"
#include "job/Job.h"
#include "media/TFFEncoder.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TFFEncoder host;
    if (argc != 3 || !host.LoadFFmpeg(""))
        return 2;
    JobSettings settings;
    settings.sources = {argv[2]};
    settings.mode = conversion_command::VolumeMode::ChangeGain;
    settings.gain = "1";
    settings.outputFolder = argv[1];
    settings.converter = program_folders::converterPath();
    settings.normaliser = program_folders::normalizerPath();
    settings.scratchFolder = program_folders::scratchFolder();
    Job job(settings, host.Decoder());
    QObject::connect(&job, &Job::finished, &application, &QCoreApplication::quit);
    QTimer::singleShot(0, &job, &Job::start);
    return QCoreApplication::exec();
}

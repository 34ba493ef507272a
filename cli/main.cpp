// auralon-cli: the Adjust Volume job from the command line, with no window and no display.
#include "analysis/RunLimit.h"
#include "cli/CliArguments.h"
#include "cli/CliRun.h"
#include "cli/ClusterCommands.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    // Arguments as the file system's bytes: Qt's decoded ones would change names that are not
    // UTF-8. Read before anything is loaded, so that --help and a usage error come at once.
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int cores = run_limit::usableCores();
    cli_arguments::JobLimits limits;
    limits.byDefault = run_limit::defaultLimit(std::getenv(run_limit::kEnvironmentName), cores);
    limits.most = std::max(cores, limits.byDefault);  // as the Options dialog's "Files at once"
    if (cluster_commands::isSubcommand(args)) {
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("auralon-cli"));
        return cluster_commands::run(args, limits, AURALON_VERSION);
    }
    const cli_arguments::ParseResult parsed = cli_arguments::parse(args, limits);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "auralon-cli: %s\nTry 'auralon-cli --help' for more information.\n",
                     parsed.error.c_str());
        return CliRun::kUsage;
    }
    if (parsed.options.help) {
        std::fputs((cli_arguments::helpText(limits) + cluster_commands::helpText()).c_str(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::puts("auralon-cli (Auralon) " AURALON_VERSION);
        return 0;
    }
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("auralon-cli"));
    CliRun run(parsed.options);
    return run.exec();
}

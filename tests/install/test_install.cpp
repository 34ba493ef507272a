// The installed program: `cmake --install` of this build tree into a temporary prefix (or the
// prefix named by AURALON_INSTALLED_PREFIX), the layout it leaves, the desktop entry, its
// AppStream metadata and manual pages, and whole jobs run through the installed launchers: the
// windows worked by the auralon_driver plugin, the command line with no display.
#include "base/MediaExtensions.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <pwd.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

constexpr int kJobTimeoutMs = 240000;
// The manual's macros that start a bold option name.
constexpr std::array<const char*, 3> kBoldMacros{".B", ".BI", ".BR"};

QString qs(const fs::path& path) { return QString::fromStdString(path.string()); }

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, separator);)
        if (!item.empty())
            out.push_back(item);
    return out;
}

bool executableByAll(const fs::path& file)
{
    const fs::perms p = fs::status(file).permissions();
    const fs::perms all = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    return fs::is_regular_file(file) && (p & all) == all;
}

// The keys of the [Desktop Entry] group.
std::map<std::string, std::string> desktopEntry(const fs::path& file)
{
    std::map<std::string, std::string> keys;
    bool inGroup = false;
    for (const std::string& line : lines(readFile(file))) {
        if (!line.empty() && line.front() == '[')
            inGroup = line == "[Desktop Entry]";
        else if (const auto eq = line.find('='); inGroup && eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

// What the launcher writes, answered and seen by the driver plugin.
struct DriverReport {
    std::vector<std::string> rows;
    std::vector<std::string> messages;
    std::vector<std::string> folderChoosers;
    std::string icon;
    bool ready = false;
    bool closing = false;
};

DriverReport readReport(const fs::path& file)
{
    DriverReport report;
    std::error_code ec;
    if (!fs::exists(file, ec))
        return report;
    auto after = [](const std::string& line, const std::string& head) {
        return line.rfind(head, 0) == 0 ? line.substr(head.size()) : std::string();
    };
    for (const std::string& line : lines(readFile(file))) {
        if (line.rfind("row: ", 0) == 0)
            report.rows.push_back(after(line, "row: "));
        else if (line.rfind("message: ", 0) == 0)
            report.messages.push_back(after(line, "message: "));
        else if (line.rfind("folder chooser: ", 0) == 0)
            report.folderChoosers.push_back(after(line, "folder chooser: "));
        else if (line.rfind("icon: ", 0) == 0)
            report.icon = after(line, "icon: ");
        report.ready = report.ready || line == "ready";
        report.closing = report.closing || line == "closing";
    }
    return report;
}

class Installed : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Set to /usr by the package test: the same cases drive the installed package.
        if (const char* installed = std::getenv("AURALON_INSTALLED_PREFIX"); installed && *installed) {
            prefix = installed;
        } else {
            prefix = dir / "prefix";
            const testsupport::CommandResult install = testsupport::runCommand(
                AURALON_CMAKE_COMMAND, {"--install", AURALON_TEST_BUILD_DIR, "--prefix", prefix.string()});
            ASSERT_EQ(install.exitCode, 0) << install.output;
        }
        programFolder = prefix / "lib/auralon";
        launcher = prefix / "bin/auralon";
    }

    // A plugin folder for QT_PLUGIN_PATH holding the driver, readable by everyone.
    fs::path pluginFolder()
    {
        const fs::path folder = dir / "plugins";
        fs::create_directories(folder / "generic");
        const fs::path plugin = AURALON_DRIVER_PLUGIN;
        fs::copy_file(plugin, folder / "generic" / plugin.filename(), fs::copy_options::overwrite_existing);
        return folder;
    }

    // The launcher's environment: the offscreen platform, the driver and its settings.
    QProcessEnvironment driverEnvironment(const std::string& mode, int rows, const fs::path& result,
                                          const fs::path& output)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_PLUGIN_PATH", qs(pluginFolder()));
        env.insert("AURALON_DRIVER_MODE", QString::fromStdString(mode));
        env.insert("AURALON_DRIVER_ROWS", QString::number(rows));
        env.insert("AURALON_DRIVER_RESULT", qs(result));
        env.insert("AURALON_DRIVER_OUTPUT", qs(output));
        // The tools and the libraries come from the program folder, as for a user.
        env.remove("AURALON_WINDOWS_DIR");
        env.remove("AURALON_SYSTEM_DIR");
        return env;
    }

    static QStringList withDriver(const std::vector<std::string>& files)
    {
        QStringList args{"-plugin", "auralon_driver"};
        for (const std::string& file : files)
            args << QString::fromStdString(file);
        return args;
    }

    // Runs to the end; fails the test when the program does not end by itself or crashes.
    static void runToEnd(QProcess& process)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start();
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
        if (!process.waitForFinished(kJobTimeoutMs)) {
            process.kill();
            process.waitForFinished();
            FAIL() << "the program did not end:\n" << process.readAll().toStdString();
        }
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << process.readAll().toStdString();
        ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    }

    testsupport::TempDir dir;
    fs::path prefix;
    fs::path programFolder;
    fs::path launcher;
};

TEST_F(Installed, LaysOutAProgramFolderWithItsToolsLauncherIconAndManual)
{
    EXPECT_TRUE(executableByAll(programFolder / "auralon"));
    EXPECT_TRUE(executableByAll(programFolder / "auralon-cli"));
    EXPECT_TRUE(executableByAll(programFolder / "auralon-slurm-submit"));
    EXPECT_TRUE(executableByAll(programFolder / "qvx/client"));
    EXPECT_TRUE(executableByAll(programFolder / "qvx/meter"));
    ASSERT_TRUE(fs::is_symlink(programFolder / "qvx/client123"));
    EXPECT_TRUE(fs::equivalent(programFolder / "qvx/client123", FFMPEG_EXECUTABLE));

    // Relative links: the tree can be moved or packaged as a whole.
    for (const char* program : {"auralon", "auralon-cli", "auralon-slurm-submit"}) {
        ASSERT_TRUE(fs::is_symlink(prefix / "bin" / program)) << program;
        EXPECT_TRUE(fs::read_symlink(prefix / "bin" / program).is_relative());
        EXPECT_EQ(fs::canonical(prefix / "bin" / program), fs::canonical(programFolder / program));
    }

    const std::string icon = readFile(prefix / "share/icons/hicolor/96x96/apps/auralon.png");
    EXPECT_EQ(icon.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    for (const char* page : {"share/man/man1/auralon.1", "share/man/man1/auralon-client.1",
                             "share/man/man1/auralon-cli.1", "share/man/man1/auralon-meter.1",
                             "share/man/man1/auralon-slurm-submit.1"})
        EXPECT_TRUE(fs::is_regular_file(prefix / page) || fs::is_regular_file(prefix / (page + std::string(".gz"))))
            << page << " (compressed in the package)";

    // The installed tools run from there.
    for (const char* tool : {"client", "meter"}) {
        const testsupport::CommandResult version =
            testsupport::runCommand((programFolder / "qvx" / tool).string(), {"--version"});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_NE(version.output.find(tool + std::string(" (Auralon)")), std::string::npos) << version.output;
    }
    EXPECT_EQ(testsupport::runCommand((programFolder / "qvx/client123").string(), {"-version"}).exitCode, 0);
}

TEST_F(Installed, DesktopEntryStartsTheLauncherWithFilesOfEveryListedType)
{
    const fs::path entryFile = prefix / "share/applications/auralon.desktop";
    std::map<std::string, std::string> entry = desktopEntry(entryFile);
    EXPECT_EQ(entry["Type"], "Application");
    EXPECT_EQ(entry["Exec"], "auralon %F");
    EXPECT_EQ(entry["Icon"], "auralon");
    EXPECT_EQ(entry["Terminal"], "false");
    EXPECT_FALSE(entry["Name"].empty());
    const std::vector<std::string> types = split(entry["MimeType"], ';');
    const std::set<std::string> listed(types.begin(), types.end());
    EXPECT_EQ(listed.size(), types.size()) << "a type is listed twice";
    for (const char* type : {"audio/x-wav", "audio/mpeg", "audio/flac", "audio/ogg", "video/mp4",
                             "video/x-matroska", "video/x-msvideo"})
        EXPECT_TRUE(listed.count(type)) << type;

    if (const std::string validate = AURALON_DESKTOP_FILE_VALIDATE; !validate.empty()) {
        const testsupport::CommandResult check = testsupport::runCommand(validate, {entryFile.string()});
        EXPECT_EQ(check.exitCode, 0) << check.output;
        EXPECT_EQ(check.output, "");
    }
    // Software centres find the entry through the AppStream metadata.
    const fs::path metainfo = prefix / "share/metainfo/io.example.auralon.metainfo.xml";
    EXPECT_NE(readFile(metainfo).find("<launchable type=\"desktop-id\">" + entryFile.filename().string() + '<'),
              std::string::npos);
    if (const QString appstream = QStandardPaths::findExecutable("appstreamcli"); !appstream.isEmpty()) {
        const testsupport::CommandResult check =
            testsupport::runCommand(appstream.toStdString(), {"validate", "--no-net", metainfo.string()});
        EXPECT_EQ(check.exitCode, 0) << check.output;
    }

    // Against the system's MIME database: every type it gives a listed extension is
    // offered (text types aside: ".ts" is also a translation file), and every type offered
    // is one of those or another name of one.
    const fs::path globs = "/usr/share/mime/globs2";
    if (!fs::exists(globs))
        GTEST_SKIP() << "no shared MIME database to compare with";
    std::set<std::string> extensions;
    for (std::string_view list : {media_extensions::video_exts, media_extensions::audio_exts})
        for (const std::string& pattern : media_extensions::entriesOf(list)) {
            std::string lower = pattern;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return char(std::tolower(c)); });
            extensions.insert(lower);
        }
    std::set<std::string> expected;
    for (const std::string& line : lines(readFile(globs))) {
        const std::vector<std::string> fields = split(line, ':');  // weight:type:glob[:flags]
        if (line.front() != '#' && fields.size() >= 3 && extensions.count(fields[2])
            && fields[1].rfind("text/", 0) != 0)
            expected.insert(fields[1]);
    }
    ASSERT_FALSE(expected.empty());
    for (const std::string& type : expected)
        EXPECT_TRUE(listed.count(type)) << type << " is not offered";
    std::map<std::string, std::string> aliases;
    for (const std::string& line : lines(readFile("/usr/share/mime/aliases")))
        if (const auto blank = line.find(' '); blank != std::string::npos)
            aliases[line.substr(0, blank)] = line.substr(blank + 1);
    for (const std::string& type : listed)
        EXPECT_TRUE(expected.count(type) || (aliases.count(type) && expected.count(aliases[type])))
            << type << " is no type of a listed extension";
}

TEST_F(Installed, ManualPagesDescribeEveryOptionOfTheNormaliserTheCommandLineAndTheSubmitter)
{
    for (const auto& [program, pageName] : {std::pair{"qvx/client", "auralon-client.1"},
                                            std::pair{"auralon-cli", "auralon-cli.1"},
                                            std::pair{"auralon-slurm-submit", "auralon-slurm-submit.1"}}) {
        SCOPED_TRACE(program);
        const testsupport::CommandResult help =
            testsupport::runCommand((programFolder / program).string(), {"--help"});
        ASSERT_EQ(help.exitCode, 0);
        // The option column of the help: "  -b   ...", "  --target=LUFS  ...", "  --help, --version",
        // "  -o, --output=DIR  ...".
        std::set<std::string> options;
        for (const std::string& line : lines(help.output)) {
            if (line.rfind("  -", 0) != 0)
                continue;
            const std::string column = line.substr(2, line.find("  ", 2) - 2);
            for (std::string word : split(column, ' ')) {
                if (word.back() == ',')
                    word.pop_back();
                options.insert(word.substr(0, word.find('=') + (word.find('=') != std::string::npos)));
            }
        }
        ASSERT_GE(options.size(), 8u) << help.output;

        const fs::path page = prefix / "share/man/man1" / pageName;
        const std::string roff = readFile(page);
        for (const std::string& option : options) {
            std::string escaped;
            for (char c : option)
                escaped += c == '-' ? std::string("\\-") : std::string(1, c);
            const bool described = std::any_of(kBoldMacros.begin(), kBoldMacros.end(), [&](const char* macro) {
                return roff.find(std::string("\n") + macro + ' ' + escaped) != std::string::npos;
            });
            EXPECT_TRUE(described) << option << " has no bold entry of its own (.B " << escaped << ")";
        }

        const QString groff = QStandardPaths::findExecutable("groff");
        if (groff.isEmpty())
            GTEST_SKIP() << "no groff to check the page's markup";
        const testsupport::CommandResult render =
            testsupport::runCommand(groff.toStdString(), {"-man", "-Tutf8", "-ww", "-z", page.string()});
        EXPECT_EQ(render.exitCode, 0) << render.output;
        EXPECT_EQ(render.output, "");
    }
}

TEST_F(Installed, GainJobThroughTheLaunchersFoundOnThePathWindowAndCommandLine)
{
    const fs::path work = dir / "work";
    const fs::path output = dir / "out";
    fs::create_directories(output);
    fs::create_directories(work);
    testsupport::makeSine(work / "a.wav", -12.0, 1.5);
    testsupport::makeSine(work / "b.flac", -12.0, 1.5);
    testsupport::writeFile(work / "notes.txt", "not media\n");

    // Found on the PATH as a shell or a desktop would find it; started with names relative
    // to its current folder.
    const QByteArray path = qs(prefix / "bin").toLocal8Bit() + ':' + qgetenv("PATH");
    qputenv("PATH", path);
    const fs::path result = dir / "result.txt";
    QProcess process;
    QProcessEnvironment env = driverEnvironment("gain", 2, result, output);
    env.insert("PATH", QString::fromLocal8Bit(path));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(qs(work));
    process.setProgram("auralon");
    process.setArguments(withDriver({"a.wav", "notes.txt", "b.flac"}));
    ASSERT_NO_FATAL_FAILURE(runToEnd(process));

    const DriverReport report = readReport(result);
    EXPECT_EQ(report.rows, (std::vector<std::string>{(work / "a.wav").string(), (work / "b.flac").string()}));
    EXPECT_EQ(report.folderChoosers, std::vector<std::string>{"Select an output folder for output files"});
    EXPECT_EQ(report.messages, std::vector<std::string>{"|Process is finished!"});
    EXPECT_TRUE(report.closing);


    // The same job by the installed command line, on a machine with no display.
    const fs::path byCommandLine = dir / "out-cli";
    fs::create_directories(byCommandLine);
    QProcess cli;
    QProcessEnvironment bare = env;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_PLUGIN_PATH"})
        bare.remove(name);
    cli.setProcessEnvironment(bare);
    cli.setWorkingDirectory(qs(work));
    cli.start("auralon-cli", {"--gain=-6", "-o", qs(byCommandLine), "a.wav", "notes.txt", "b.flac"});
    ASSERT_TRUE(cli.waitForFinished(kJobTimeoutMs));
    EXPECT_EQ(cli.exitCode(), 1) << "notes.txt is refused: " << cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.readAllStandardOutput().toStdString(),
              "refused\t" + (work / "notes.txt").string() + "\t\nwritten\t" + (work / "a.wav").string() + "\t"
                  + (byCommandLine / "a.wav").string() + "\nwritten\t" + (work / "b.flac").string() + "\t"
                  + (byCommandLine / "b.flac").string() + "\n");

    for (const fs::path& folder : {output, byCommandLine}) {
        std::vector<fs::path> outputs;
        for (const auto& item : fs::directory_iterator(folder))
            outputs.push_back(item.path());
        ASSERT_EQ(outputs.size(), 2u) << folder;
        for (const fs::path& file : outputs) {
            const fs::path source = work / (file.extension() == ".wav" ? "a.wav" : "b.flac");
            EXPECT_NEAR(testsupport::measureVolume(file).maxDb,
                        testsupport::measureVolume(source).maxDb - 6.0, 0.1) << file;
        }
    }
}

TEST_F(Installed, RmsJobFromAProgramFolderWhoseNameHoldsPatternCharacters)
{
    // The normaliser expands its pattern itself; the scratch folder beside the program must
    // match as the name it is.
    const fs::path odd = dir / "odd [x] ? *";
    const testsupport::CommandResult install = testsupport::runCommand(
        AURALON_CMAKE_COMMAND, {"--install", AURALON_TEST_BUILD_DIR, "--prefix", odd.string()});
    ASSERT_EQ(install.exitCode, 0) << install.output;
    const fs::path media = dir / "media";
    const fs::path output = dir / "out";
    fs::create_directories(output);
    fs::create_directories(media);
    testsupport::makeSine(media / "a.wav", -20.0, 1.5);
    testsupport::makeSine(media / "b.flac", -30.0, 1.5);
    const fs::path result = dir / "result.txt";
    QProcess process;
    process.setProcessEnvironment(driverEnvironment("rms", 2, result, output));
    process.setProgram(qs(odd / "bin/auralon"));
    process.setArguments(withDriver({(media / "a.wav").string(), (media / "b.flac").string()}));
    ASSERT_NO_FATAL_FAILURE(runToEnd(process));

    EXPECT_EQ(readReport(result).messages, std::vector<std::string>{"|Process is finished!"});
    for (const char* name : {"a.wav", "b.flac"})
        EXPECT_NEAR(testsupport::measureLoudness(output / name).integratedLufs, -14.0, 0.5) << name;
    EXPECT_TRUE(fs::is_empty(odd / "lib/auralon/tmp"));
}

TEST_F(Installed, IdleLauncherShowsTheIconAndEndsCleanlyOnSigterm)
{
    const fs::path result = dir / "result.txt";
    QProcess process;
    process.setProcessEnvironment(driverEnvironment("idle", 0, result, dir.path()));
    process.setProgram(qs(launcher));
    process.setArguments(withDriver({}));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    ASSERT_TRUE(process.waitForStarted());
    // Waits for the driver to see the window; the program ends only if something is wrong.
    while (!readReport(result).ready && process.state() == QProcess::Running)
        process.waitForFinished(50);
    ASSERT_TRUE(readReport(result).ready) << process.readAll().toStdString();
    EXPECT_EQ(readReport(result).icon, "set") << "the main window has no icon";

    process.terminate();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        FAIL() << "SIGTERM did not end the program";
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
    EXPECT_EQ(process.exitCode(), 0);
}

TEST_F(Installed, UserWhoCannotWriteThePrefixGetsAScratchFolderInTheirCache)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the program as another user";
    const passwd* nobody = ::getpwnam("nobody");
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (!nobody || setpriv.isEmpty())
        GTEST_SKIP() << "no user nobody or no setpriv";

    // The prefix stays root's; only the home folder is the user's.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                    | fs::perms::others_read | fs::perms::others_exec);
    const fs::path home = dir / "home [x] ? *";  // the scratch folder in its cache, too
    const fs::path output = home / "out";
    fs::create_directories(output);
    for (const fs::path& folder : {home, output})
        ASSERT_EQ(::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const fs::path media = dir / "media";
    fs::create_directories(media);
    testsupport::makeSine(media / "a.wav", -20.0, 1.5);
    testsupport::makeSine(media / "b.mp3", -20.0, 1.5);
    const fs::path result = home / "result.txt";

    QProcess process;
    QProcessEnvironment env = driverEnvironment("rms", 2, result, output);
    env.insert("HOME", qs(home));
    env.remove("XDG_CACHE_HOME");
    env.remove("XDG_RUNTIME_DIR");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(qs(home));
    process.setProgram(setpriv);
    process.setArguments(QStringList{"--reuid=" + QString::number(nobody->pw_uid),
                                     "--regid=" + QString::number(nobody->pw_gid), "--clear-groups",
                                     "--", qs(launcher)}
                         + withDriver({(media / "a.wav").string(), (media / "b.mp3").string()}));
    ASSERT_NO_FATAL_FAILURE(runToEnd(process));

    const DriverReport report = readReport(result);
    EXPECT_EQ(report.rows.size(), 2u);
    EXPECT_EQ(report.messages, std::vector<std::string>{"|Process is finished!"});
    EXPECT_TRUE(fs::is_directory(home / ".cache/auralon/tmp"));
    EXPECT_FALSE(fs::exists(programFolder / "tmp"));
    EXPECT_TRUE(fs::is_empty(home / ".cache/auralon/tmp")) << "the copies are cleared at the end";
    std::size_t outputs = 0;
    for (const auto& item : fs::directory_iterator(output))
        outputs += fs::file_size(item.path()) > 0;
    EXPECT_EQ(outputs, 2u);
}

}  // namespace

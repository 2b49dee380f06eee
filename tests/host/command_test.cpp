// roundcorners as a command: where settings come from and go, what a mistake
// on the command line gives, and what bad input gives: a one-line message, a
// non-zero status, no output file, the input untouched, and the other files
// of a batch still done.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>

#include "host/interrupt_cleanup.h"
#include "tests/host/image_files.h"
#include "tests/native/test_dir.h"

// The plug-in's message, as it shows on stderr.
static const char kTooSmallMessage[] =
    "フィルタを適用する範囲が小さすぎます。または、半径が大きすぎます。";

static PngImage Picture(int width, int height) {
    PngImage image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int c = 0; c < 3; c++) image.samples.push_back((x * 11 + y * 5 + c * 80) & 0xFF);
    return image;
}

static std::vector<std::string> FilesIn(const std::string &dir) {
    std::vector<std::string> names;
    DIR *listing = opendir(dir.c_str());
    if (listing == nullptr) return names;
    while (dirent *entry = readdir(listing))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

class CommandTest : public SettingsDirTest {
  protected:
    void SetUp() override {
        SettingsDirTest::SetUp();
        out = dir + "out/";
        mkdir(out.c_str(), 0777);
    }
    std::string WritePicture(const std::string &name, int width = 40, int height = 30) {
        WritePng(dir + name, Picture(width, height));
        return dir + name;
    }
    // roundcorners with the test's settings folder.
    CommandResult Run(std::vector<std::string> arguments) {
        arguments.push_back("--settings-dir");
        arguments.push_back(dir);
        return RunRoundCorners(arguments);
    }
    std::string out;  // an output folder, empty at the start
};

// --- settings -------------------------------------------------------------

TEST_F(CommandTest, WithoutAFileTheDefaultsApply) {
    CommandResult run = Run({"--show-settings"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "settings file: " + SettingsPath() +
                           " (none yet, so the defaults)\nradius: 20\nsmoothing: on\nbackground: #FFFFFF\n");
    EXPECT_FALSE(FileExists(SettingsPath()));
}

TEST_F(CommandTest, TheStoredFileIsUsed) {
    WriteSettings(SettingsWith(7, 0, 0x00332211));
    CommandResult run = Run({"--show-settings"});
    EXPECT_EQ(run.out, "settings file: " + SettingsPath() + "\nradius: 7\nsmoothing: off\nbackground: #112233\n");
    ASSERT_EQ(Run({WritePicture("in.png"), "-o", out + "a.png"}).status, 0);
    PngImage result = ReadPng(out + "a.png");
    EXPECT_EQ(ColourAt(result, 0, 0), (Colour{0x11 / 255.0, 0x22 / 255.0, 0x33 / 255.0, 1.0}));
}

TEST_F(CommandTest, PerRunValuesAreUsedButNotStored) {
    WriteSettings(SettingsWith(7, 1, 0x00332211));
    std::string stored = ReadSettingsBytes();
    std::vector<std::string> perRun = {"--radius", "9", "--background", "#000000", "--no-smooth"};
    std::vector<std::string> show = perRun;
    show.push_back("--show-settings");
    EXPECT_EQ(Run(show).out, "settings file: " + SettingsPath() +
                                 "\nradius: 9 (this run)\nsmoothing: off (this run)\nbackground: #000000 (this run)\n");
    std::vector<std::string> round = perRun;
    round.insert(round.end(), {WritePicture("in.png"), "-o", out + "a.png"});
    ASSERT_EQ(Run(round).status, 0);
    EXPECT_EQ(ColourAt(ReadPng(out + "a.png"), 0, 0), (Colour{0, 0, 0, 1.0}));
    EXPECT_EQ(ReadSettingsBytes(), stored);
}

TEST_F(CommandTest, SaveStoresAsTheDialogOkDoes) {
    struct Row {
        std::vector<std::string> arguments;
        int radius, smooth;
        const char *note;  // on stderr
    } const rows[] = {
        {{"--radius", "40"}, 40, 3, ""},
        {{"--radius", "2000"}, 999, 3, "roundcorners: radius 2000 stored as 999 (the options dialog keeps it within 5 to 999)\n"},
        {{"--radius", "4"}, 5, 3, "roundcorners: radius 4 stored as 5 (the options dialog keeps it within 5 to 999)\n"},
        {{"--radius", "0"}, 5, 3, "roundcorners: radius 0 stored as 5 (the options dialog keeps it within 5 to 999)\n"},
        {{"--radius", "999", "--no-smooth"}, 999, 0, ""},
        {{"--radius", "5", "--smooth"}, 5, 1, ""},
        {{"--radius", "20"}, 20, 1, ""},  // a stored smoothing flag of 3 is stored as 1
    };
    for (const Row &row : rows) {
        FilterSettings before = SettingsWith(50, 3, 0x00445566);
        WriteSettings(before);
        std::vector<std::string> arguments = row.arguments;
        arguments.insert(arguments.end(), {"--background", "#ABCDEF", "--save"});
        CommandResult run = Run(arguments);
        EXPECT_EQ(run.status, 0) << row.arguments[1];
        EXPECT_EQ(run.err, row.note);
        FilterSettings stored;
        std::string bytes = ReadSettingsBytes();
        ASSERT_EQ(bytes.size(), sizeof stored);
        memcpy(&stored, bytes.data(), sizeof stored);
        EXPECT_EQ(stored.radius, row.radius) << row.arguments[1];
        EXPECT_EQ(stored.smooth, row.smooth == 3 ? 1 : row.smooth) << row.arguments[1];
        EXPECT_EQ(stored.background, 0x00EFCDABu);
        EXPECT_EQ(memcmp(stored.customColors, before.customColors, sizeof stored.customColors), 0);
    }
}

TEST_F(CommandTest, SaveMakesTheSettingsFolder) {
    std::string nested = dir + "a/b/";
    CommandResult run = RunRoundCorners({"--save", "--settings-dir", nested});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(nested + SETTINGS_FILE_NAME).size(), sizeof(FilterSettings));
}

// The per-user folder: $XDG_CONFIG_HOME/roundcorners/, else ~/.config/roundcorners/.
TEST_F(CommandTest, TheDefaultFolderIsTheUsers) {
    std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
    const char *savedConfig = getenv("XDG_CONFIG_HOME");
    std::string config = savedConfig ? savedConfig : "";
    setenv("XDG_CONFIG_HOME", (dir + "config").c_str(), 1);
    EXPECT_EQ(RunRoundCorners({"--save", "--radius", "33"}).status, 0);
    EXPECT_TRUE(FileExists(dir + "config/roundcorners/" SETTINGS_FILE_NAME));
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (dir + "home").c_str(), 1);
    EXPECT_EQ(RunRoundCorners({"--save", "--radius", "34"}).status, 0);
    EXPECT_TRUE(FileExists(dir + "home/.config/roundcorners/" SETTINGS_FILE_NAME));
    CommandResult show = RunRoundCorners({"--show-settings"});
    EXPECT_NE(show.out.find("radius: 34\n"), std::string::npos) << show.out;
    setenv("HOME", savedHome.c_str(), 1);
    if (savedConfig) setenv("XDG_CONFIG_HOME", config.c_str(), 1);
}

// --- the command line -----------------------------------------------------

TEST_F(CommandTest, MistakesOnTheCommandLineGiveStatus2AndWriteNothing) {
    std::string in = WritePicture("in.png");
    struct Row {
        std::vector<std::string> arguments;
        const char *message;
    } const rows[] = {
        {{in, "--bogus", "--in-place"}, "unknown option '--bogus'"},
        {{in}, "say where the results go: -o FILE, --out-dir DIR or --in-place"},
        {{in, in, "-o", out + "a.png"}, "-o takes exactly one input; use --out-dir for several"},
        {{in, "-o", out + "a.png", "--in-place"}, "give only one of -o, --out-dir and --in-place"},
        {{in, "--in-place", "--radius", "abc"}, "--radius wants a whole number of pixels, not 'abc'"},
        {{in, "--in-place", "--radius", "-3"}, "--radius wants a whole number of pixels, not '-3'"},
        {{in, "--in-place", "--radius", "99999999999"}, "--radius wants a whole number of pixels, not '99999999999'"},
        {{in, "--in-place", "--background", "#12345"}, "--background wants a colour as #RRGGBB, not '#12345'"},
        {{in, "--in-place", "--background", "12345G"}, "--background wants a colour as #RRGGBB, not '12345G'"},
        {{in, "--in-place", "--quality", "0"}, "--quality wants a number from 1 to 100, not '0'"},
        {{in, "--in-place", "--quality", "101"}, "--quality wants a number from 1 to 100, not '101'"},
        {{in, "--in-place", "--radius"}, "option --radius needs a value"},
        {{in, "--in-place", "--save=yes"}, "unknown option '--save=yes'"},
        {{"--out-dir", out}, "no input files"},
        {{}, "no input files (see --help)"},
    };
    std::string original = ReadBytes(in);
    for (const Row &row : rows) {
        CommandResult run = RunRoundCorners(row.arguments);
        EXPECT_EQ(run.status, 2) << row.message;
        EXPECT_EQ(run.err, std::string("roundcorners: ") + row.message + "\nTry 'roundcorners --help'.\n");
    }
    EXPECT_EQ(ReadBytes(in), original);
    EXPECT_TRUE(FilesIn(out).empty());
}

TEST_F(CommandTest, HelpAndVersion) {
    CommandResult help = RunRoundCorners({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: roundcorners", 0), 0u);
    CommandResult version = RunRoundCorners({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "roundcorners 1.0\n");
}

TEST_F(CommandTest, OptionsTakeTheirValueAfterAnEqualsSignAndFilesMayFollowThem) {
    CommandResult run = Run({"--radius=12", "--background=102030", "--show-settings"});
    EXPECT_NE(run.out.find("radius: 12 (this run)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("background: #102030 (this run)\n"), std::string::npos) << run.out;
    std::string dashed = WritePicture("-dashed.png");
    EXPECT_EQ(RunRoundCorners({"--settings-dir", dir, "--out-dir", out, "--", dashed}).status, 0);
    EXPECT_TRUE(FileExists(out + "-dashed.png"));
}

TEST_F(CommandTest, ASettingsFolderPathTooLongForThePlugInIsAMistake) {
    CommandResult run = RunRoundCorners({"--show-settings", "--settings-dir", "/" + std::string(239, 'd')});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "roundcorners: the settings folder's path is too long (at most 239 bytes with its '/')\n"
                       "Try 'roundcorners --help'.\n");
    EXPECT_EQ(RunRoundCorners({"--show-settings", "--settings-dir", "/" + std::string(237, 'd')}).status, 0);
}

// --- bad input --------------------------------------------------------------

struct BadInput {
    const char *name;
    void (*make)(const std::string &path);
    const char *error;  // after "roundcorners: PATH: "
};

static std::string GoodPngBytes(void) {
    char pattern[] = "/tmp/roundcorners-good-XXXXXX";
    int fd = mkstemp(pattern);
    close(fd);
    WritePng(pattern, Picture(40, 30));
    std::string bytes = ReadBytes(pattern);
    unlink(pattern);
    return bytes;
}

static JpegImage PatternJpeg(int width, int height) {
    JpegImage image;
    image.width = width;
    image.height = height;
    image.samples.resize(3 * static_cast<size_t>(width) * height);
    for (size_t i = 0; i < image.samples.size(); i++) image.samples[i] = static_cast<unsigned char>(i * 7);
    return image;
}

static const BadInput kBadInputs[] = {
    {"missing", [](const std::string &) {}, "No such file or directory"},
    {"not_an_image", [](const std::string &p) { WriteBytes(p, "just some text, no picture\n"); },
     "not a PNG or JPEG image"},
    {"empty", [](const std::string &p) { WriteBytes(p, ""); }, "not a PNG or JPEG image"},
    {"folder", [](const std::string &p) { mkdir(p.c_str(), 0777); }, "is a folder, not an image"},
    {"truncated_png",
     [](const std::string &p) {
         std::string bytes = GoodPngBytes();
         WriteBytes(p, bytes.substr(0, bytes.size() / 2));
     },
     "damaged PNG: the file ends too soon (truncated)"},
    {"png_cut_after_the_pixels",
     [](const std::string &p) {
         std::string bytes = GoodPngBytes();
         WriteBytes(p, bytes.substr(0, bytes.size() - 12));  // no IEND
     },
     "damaged PNG: the file ends too soon (truncated)"},
    {"png_bad_crc",
     [](const std::string &p) {
         std::string bytes = GoodPngBytes();
         size_t type = bytes.find("IDAT");
         size_t length = static_cast<unsigned char>(bytes[type - 2]) << 8 | static_cast<unsigned char>(bytes[type - 1]);
         size_t crc = type + 4 + length;
         bytes[crc] = static_cast<char>(bytes[crc] ^ 0x55);
         WriteBytes(p, bytes);
     },
     "damaged PNG: IDAT: CRC error"},
    {"animated_png",
     [](const std::string &p) {
         // An acTL chunk (frames 2, plays 0) after the header makes it an APNG.
         std::string bytes = GoodPngBytes();
         std::string body = std::string("acTL") + std::string("\0\0\0\x02\0\0\0\0", 8);
         uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
         std::string chunk = std::string("\0\0\0\x08", 4) + body;
         for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>(crc >> shift & 0xFF);
         WriteBytes(p, bytes.insert(8 + 25, chunk));
     },
     "animated PNG images are not supported (only the first frame would be kept)"},
    {"truncated_jpeg",
     [](const std::string &p) {
         WriteJpeg(p, PatternJpeg(40, 30), 90, true);
         std::string bytes = ReadBytes(p);
         WriteBytes(p, bytes.substr(0, bytes.size() * 2 / 3));
     },
     "damaged JPEG: Premature end of JPEG file"},
    // Small files that declare an image held whole (interlaced PNG rows come
    // in passes, progressive JPEG coefficients in scans) far beyond memory.
    {"interlaced_png_claims_60000_square",
     [](const std::string &p) {
         PngImage picture = Picture(40, 30);
         picture.interlaced = true;
         WritePng(p, picture);
         std::string bytes = ReadBytes(p);
         // IHDR's width and height, then its CRC over type and data.
         for (size_t at : {16, 20}) bytes.replace(at, 4, std::string("\0\0\xEA\x60", 4));
         uLong crc = crc32(0, reinterpret_cast<const Bytef *>(bytes.data() + 12), 17);
         for (int i = 0; i < 4; i++) bytes[29 + i] = static_cast<char>(crc >> (24 - 8 * i) & 0xFF);
         WriteBytes(p, bytes);
     },
     "the image is too large to hold in memory"},
    {"progressive_jpeg_claims_65500_square",
     [](const std::string &p) {
         WriteJpeg(p, PatternJpeg(40, 30), 90, false, true);
         std::string bytes = ReadBytes(p);
         size_t sof = bytes.find("\xFF\xC2");
         bytes.replace(sof + 5, 4, std::string("\xFF\xDC\xFF\xDC", 4));  // height, width
         WriteBytes(p, bytes);
     },
     "the image is too large to hold in memory"},
    {"radius_larger_than_the_image", [](const std::string &p) { WritePng(p, Picture(30, 20)); },
     "フィルタを適用する範囲が小さすぎます。または、半径が大きすぎます。 (radius 25, image 30 x 20)"},
};

static void PrintTo(const BadInput &c, std::ostream *out) { *out << c.name; }

class BadInputTest : public CommandTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, SaysWhatIsWrongWritesNothingAndLeavesTheInput) {
    const BadInput &c = GetParam();
    std::string path = dir + "input";
    c.make(path);
    std::string original = ReadBytes(path);
    CommandResult run = Run({path, "--out-dir", out, "--radius", "25"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + path + ": " + c.error + "\n");
    EXPECT_TRUE(FilesIn(out).empty());
    EXPECT_EQ(ReadBytes(path), original);
    // In place too, the input stays as it was and nothing is left beside it.
    std::vector<std::string> before = FilesIn(dir);
    EXPECT_EQ(Run({path, "--in-place", "--radius", "25"}).status, 1);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(FilesIn(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadInputTest, ::testing::ValuesIn(kBadInputs),
                         [](const ::testing::TestParamInfo<BadInput> &info) { return info.param.name; });

TEST_F(CommandTest, AnOutputFolderThatCannotBeMadeFailsEveryFile) {
    std::string in = WritePicture("in.png");
    WriteBytes(dir + "plain", "a file, not a folder");
    CommandResult run = Run({in, "--out-dir", dir + "plain/sub"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: cannot make the output folder '" + dir + "plain/sub': Not a directory\n");
}

TEST_F(CommandTest, AnOutputFileThatCannotBeWrittenLeavesNothing) {
    std::string in = WritePicture("in.png");
    CommandResult run = Run({in, "-o", dir + "missing/a.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + in + ": cannot write '" + dir + "missing/a.png': No such file or directory\n");
    WriteBytes(dir + "plain", "a file, not a folder");
    run = Run({in, "-o", dir + "plain/a.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + in + ": cannot write '" + dir + "plain/a.png': Not a directory\n");
}

TEST_F(CommandTest, ABatchDoesTheGoodFilesAndReportsTheOthers) {
    std::string first = WritePicture("first.png");
    std::string second = WritePicture("second.png");
    WriteBytes(dir + "bad.png", "no picture");
    CommandResult run = Run({first, dir + "missing.png", dir + "bad.png", second, "--out-dir", out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + dir + "missing.png: No such file or directory\nroundcorners: " + dir +
                           "bad.png: not a PNG or JPEG image\n");
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"first.png", "second.png"}));
    EXPECT_NE(ReadBytes(out + "first.png"), ReadBytes(first));
}

TEST_F(CommandTest, TheInputIsReplacedOnlyWhenAskedTo) {
    std::string in = WritePicture("in.png");
    std::string original = ReadBytes(in);
    CommandResult run = Run({in, "-o", in});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + in + ": the output '" + in + "' is the input itself (use --in-place to replace it)\n");
    EXPECT_EQ(Run({in, "--out-dir", dir}).status, 1);
    EXPECT_EQ(ReadBytes(in), original);

    ASSERT_EQ(Run({in, "-o", out + "copy.png"}).status, 0);
    chmod(in.c_str(), 0640);
    ASSERT_EQ(Run({in, "--in-place"}).status, 0);
    EXPECT_EQ(ReadBytes(in), ReadBytes(out + "copy.png"));
    struct stat status;
    ASSERT_EQ(stat(in.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"in.png", "out"}));
}

TEST_F(CommandTest, WhenNothingChangesTheOutputIsTheInputByteForByte) {
    std::string in = WritePicture("in.png");
    std::string original = ReadBytes(in);
    ASSERT_EQ(Run({in, "-o", out + "a.png", "--radius", "1"}).status, 0);
    EXPECT_EQ(ReadBytes(out + "a.png"), original);
    struct stat before, after;
    stat(in.c_str(), &before);
    ASSERT_EQ(Run({in, "--in-place", "--radius", "1"}).status, 0);
    stat(in.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);  // not even rewritten
}

TEST_F(CommandTest, TwoInputsWithOneOutputNameDoNotOverwriteEachOther) {
    mkdir((dir + "a").c_str(), 0777);
    mkdir((dir + "b").c_str(), 0777);
    std::string first = WritePicture("a/same.png", 40, 30);
    std::string second = WritePicture("b/same.png", 50, 30);
    CommandResult run = Run({first, second, "--out-dir", out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + second + ": '" + out + "same.png' is already the output of an earlier file\n");
    EXPECT_EQ(ReadPng(out + "same.png").width, 40);
    // Nor is a file rounded twice in place.
    std::string original = ReadBytes(first);
    run = Run({first, first, "--in-place"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + first + ": '" + first + "' is already the output of an earlier file\n");
    EXPECT_EQ(ReadBytes(first), ReadBytes(out + "same.png"));
}

// The built program itself: its exit status and its stderr in UTF-8.
TEST_F(CommandTest, TheProgramShowsThePlugInMessageInUtf8) {
    std::string in = WritePicture("small.png", 30, 20);
    std::string command = std::string("'") + ROUNDCORNERS_BINARY + "' '" + in + "' --radius 40 --out-dir '" + out +
                          "' --settings-dir '" + dir + "' 2>'" + dir + "err'";
    int status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadBytes(dir + "err"),
              "roundcorners: " + in + ": " + kTooSmallMessage + " (radius 40, image 30 x 20)\n");
    EXPECT_TRUE(FilesIn(out).empty());
}

// Interrupted while writing, the program removes its temporary output and
// its private settings folder, then ends as the signal would have ended it.
TEST_F(CommandTest, AnInterruptRemovesTheFilesBeingWritten) {
    std::string temporary = dir + ".a.png.XXXXXX";
    WriteBytes(temporary, "half an image");
    std::string runDir = dir + "run/";
    mkdir(runDir.c_str(), 0700);
    std::string runFile = runDir + SETTINGS_FILE_NAME;
    WriteBytes(runFile, "settings");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RemoveTemporariesOnInterrupt();
        NoteTemporaryOutput(temporary.c_str());
        NoteTemporarySettings(runDir.c_str(), runFile.c_str());
        raise(SIGINT);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    EXPECT_FALSE(FileExists(temporary));
    EXPECT_FALSE(FileExists(runDir));
}

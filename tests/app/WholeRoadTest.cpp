// One whole run of the program: open an archive by typing its path, edit the list, save; and the
// real binary started on a display server.
#include "app/CPellucorDlg.h"
#include "gui/Widgets.h"
#include "tests/common/DefinitionArchives.h"
#include "tests/common/TestUtil.h"
#include "tests/gui/GuiTestSupport.h"

#include <QCheckBox>

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

namespace {

using namespace guitest;

TEST(WholeRoad, TypeThePathEditTheListAndSave)
{
    if (!testutil::HaveTool("zip"))
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    EnsureApplication();
    testutil::TempDir dir;
    const auto input = MakeDefinitionArchive(dir / "pack.zip", {"scania.r", "volvo.fh16"}, true);
    const auto templateEntries = testutil::ListArchive(input);
    MessageBoxRecorder boxes;
    CPellucorDlg dlg;
    const INT_PTR result = RunModal(dlg, [&](QWidget* window) {
        QWidget* field = Control(window, 1000);
        QWidget* list = Control(window, 1003);
        TypeText(field, QString::fromStdString(input.string()));
        PressKey(field, Qt::Key_Return);
        ASSERT_EQ(gui::WidgetText(list), QStringLiteral("scania.r\r\nvolvo.fh16\r\n"));
        auto* check = ControlAs<QCheckBox>(window, 1001);
        EXPECT_TRUE(check->isEnabled());
        EXPECT_TRUE(check->isChecked());

        PressKey(list, Qt::Key_A, Qt::ControlModifier);
        TypeText(list, "scania.r");
        PressKey(list, Qt::Key_Return);
        TypeText(list, "man.tgx");
        Click(Control(window, 1004));
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(boxes.boxes.empty()) << (boxes.boxes.empty() ? "" : QString::fromStdWString(boxes.boxes[0].text).toStdString());

    // The ticked checkbox gives the ".scs" name; the input and the temporary file are gone.
    const auto output = dir / "pack.scs";
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"pack.scs"});

    std::map<std::string, std::string> entries;
    for (const auto& entry : testutil::ListArchive(output))
        entries[entry.name] = entry.data;
    for (const auto& entry : templateEntries)
    {
        const bool dropped = entry.name.find("/volvo.fh16/") != std::string::npos;
        EXPECT_EQ(entries.count(entry.name), dropped ? 0u : 1u) << entry.name;
        if (!dropped)
        {
            EXPECT_EQ(entries[entry.name], entry.data) << entry.name;
        }
    }
    const std::string added = "def/vehicle/truck/man.tgx/";
    EXPECT_EQ(entries.count(added), 1u);
    EXPECT_EQ(entries.count(added + "engine/"), 1u);
    EXPECT_EQ(entries.count(added + "data.sii"), 0u) << "only engine and transmission files are copied";
    EXPECT_EQ(entries[added + "engine/e400.sii"],
              "SiiNunit\r\n{\r\naccessory_engine_data : e400.man.tgx.engine\r\n{\r\n\tname: \"E400\"\r\n}\r\n}\r\n");
    EXPECT_EQ(entries[added + "transmission/t12.sii"],
              "SiiNunit\r\n{\r\naccessory_transmission_data : t12.man.tgx.transmission # twelve speeds\r\n{\r\n}\r\n}\r\n");
}

TEST(WholeRoad, ProgramShowsItsWindowOnADisplayAndEndsWithIt)
{
    for (const char* tool : {"xvfb-run", "xdotool"})
        if (!testutil::HaveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    // The window appears with its caption; Enter on the first control ("Save and close", which
    // has the focus at the start) with no archive open ends the dialog and the program.
    const char* script = R"SH(
bin="$1"
# The leak check of sanitizer builds would count the caches of the font library.
ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=xcb "$bin" >/dev/null 2>&1 &
pid=$!
id=""
for i in $(seq 1 200); do
  id=$(xdotool search --name '^Vantrel Pellucor v1\.3$' 2>/dev/null | head -n 1)
  [ -n "$id" ] && break
  sleep 0.1
done
if [ -z "$id" ]; then echo "no window"; kill $pid; exit 2; fi
echo "title: $(xdotool getwindowname "$id")"
xdotool windowfocus --sync "$id"
sleep 0.3
xdotool key Return
for i in $(seq 1 200); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then echo "still running"; kill $pid; exit 3; fi
wait $pid
echo "exit: $?"
)SH";
    testutil::TempDir dir;
    testutil::WriteFile(dir / "smoke.sh", script);
    // Without -noreset the X server resets when its last client leaves: an xdotool call that comes
    // and goes before the program connects would leave the program without a display.
    const auto result = testutil::RunCommand("xvfb-run -a -s '-noreset -screen 0 1280x1024x24' bash " +
                                             testutil::ShellQuote((dir / "smoke.sh").string()) + " " +
                                             testutil::ShellQuote(PELLUCOR_BINARY));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("title: Vantrel Pellucor v1.3\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("exit: 0\n"), std::string::npos) << result.output;
}

} // namespace

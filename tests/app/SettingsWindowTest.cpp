// Settings files from the parameter editors' menus, against the virtual sensor: save what
// the sensor holds, compare a file (only what differs, as the editor shows it), apply it
// (exactly the differing Loads, nothing to FLASH), and refuse bad or foreign files before a
// byte reaches the sensor. File dialogs and boxes are answered through the window's hooks.

#include "WindowFixture.h"
#include "app/SettingsFiles.h"
#include "sensor/Protocol.h"
#include "settings/SettingsFile.h"

#include <QTemporaryDir>
#include <algorithm>
#include <fstream>

using namespace zq455;
using namespace zq455::test;

namespace {

class SettingsWindow : public SetupWindow {
protected:
    void SetUp() override {
        SetupWindow::SetUp();
        ASSERT_TRUE(folder.isValid());
        window->Start_Dir = folder.path();
        answer = [this](QDialog& dialog) {
            auto* table = dialog.findChild<QTableWidget*>("Table_Differences");
            if (!table)
                return;
            shown.clear();
            for (int row = 0; row < table->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < table->columnCount(); ++column)
                    cells << table->item(row, column)->text();
                shown << cells.join(" | ");
            }
            dialog_name = dialog.objectName();
            if (load)
                dialog.accept();
        };
    }

    // The next file dialog of `dialog` answers `path`.
    void Choose(TFileDialog& dialog, const QString& path) {
        dialog.Run = [this, path](TFileDialog& d) {
            dialog_folder = d.InitialDir;
            d.FileName = path;
            return true;
        };
    }
    QString Save(const QString& name, int menu = 0) {
        const QString path = folder.path() + "/" + name;
        Choose(*window->Settings_Files->SaveDialogSettings, path);
        window->Settings_Files->Save_Settings[static_cast<size_t>(menu)]->trigger();
        return path;
    }
    void Compare(const QString& path) {
        Choose(*window->Settings_Files->OpenDialogSettings, path);
        window->Settings_Files->Compare_Settings[0]->trigger();
    }
    void Apply(const QString& path, bool answer_load) {
        load = answer_load;
        Choose(*window->Settings_Files->OpenDialogSettings, path);
        window->Settings_Files->Apply_Settings[0]->trigger();
    }
    // Rewrites a saved file with `change` applied.
    void Edit(const QString& path, const std::function<void(TSensorSettings&)>& change) {
        TSensorSettings settings;
        ASSERT_TRUE(ReadSettingsFile(path.toStdString(), settings).ok);
        change(settings);
        ASSERT_TRUE(WriteSettingsFile(path.toStdString(), settings).ok);
    }
    size_t Count(const std::vector<uint8_t>& commands, uint8_t command) {
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
    }

    QTemporaryDir folder;
    QString dialog_folder, dialog_name;
    QStringList shown;
    bool load = false;
};

} // namespace

TEST_F(SettingsWindow, SaveWritesWhatTheSensorHoldsNotAnEditNotYetLoaded) {
    Connect();
    Pick(USER_RESULT_LENGTH, "256"); // only in the window's copy
    const QString path = Save("line3.json");
    EXPECT_EQ(dialog_folder, folder.path() + "/DataFiles");
    EXPECT_TRUE(QDir(dialog_folder).exists());
    TSensorSettings saved;
    const TSettingsResult read = ReadSettingsFile(path.toStdString(), saved);
    ASSERT_TRUE(read.ok) << read.message;
    const TSensorStore store = demo->sensor->Store();
    for (unsigned i = 0; i < USER_COUNT; ++i)
        EXPECT_EQ(saved.user[i], store.working.User(i)) << i;
    EXPECT_EQ(saved.user[USER_RESULT_LENGTH], 3); // 1024, not the unloaded 256
    EXPECT_EQ(saved.device_type, window->Device_Identity[IDENTITY_DEVICE_TYPE]);
    EXPECT_FALSE(saved.has_factory); // the factory values belong to service mode
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SettingsWindow, CompareShowsOnlyTheDifferingValuesAsTheEditorShowsThemAndSendsNoLoad) {
    Connect();
    const QString path = Save("line3.json");
    Compare(path);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The sensor holds the settings of " + path + ".");
    EXPECT_TRUE(shown.isEmpty());

    const uint16_t laser = demo->sensor->Store().working.User(USER_LASER_INTENSITY);
    Edit(path, [](TSensorSettings& s) {
        s.user[USER_RESULT_LENGTH] = 1;
        s.user[USER_LASER_INTENSITY] = 5;
        s.angle_rad = 0.5f;
    });
    const size_t before = demo->sensor->Commands().size();
    Compare(path);
    EXPECT_EQ(dialog_name, "Form_Settings_Compare");
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0], "Result length | 3 | 1 | 1024 → 256");
    EXPECT_EQ(shown[1], QString("Laser intensity | %1 | 5 | %1 → 5").arg(laser));
    EXPECT_TRUE(shown[2].endsWith("0.000° → 28.600°")) << shown[2].toStdString();
    EXPECT_EQ(Count(CommandsSince(before), protocol::CMD_LOAD_USER_PARAMETER), 0u);
    EXPECT_EQ(window->Sensor_Result, 0u);
}

TEST_F(SettingsWindow, ApplyLoadsExactlyTheDifferingValuesAndLeavesFlashToTheEngineer) {
    Connect();
    const QString path = Save("line3.json");
    Edit(path, [](TSensorSettings& s) {
        s.user[USER_RESULT_LENGTH] = 1;
        s.user[USER_LASER_INTENSITY] = 5;
    });
    const TSensorStore at_start = demo->sensor->Store();

    // Cancel: nothing is sent.
    size_t before = demo->sensor->Commands().size();
    Apply(path, false);
    EXPECT_EQ(dialog_name, "Form_Settings_Apply");
    EXPECT_EQ(shown.size(), 2);
    EXPECT_EQ(Count(CommandsSince(before), protocol::CMD_LOAD_USER_PARAMETER), 0u);

    // Load: the two Loads, no FLASH command; the editor shows what the sensor holds now.
    before = demo->sensor->Commands().size();
    Apply(path, true);
    ASSERT_EQ(window->Sensor_Result, 0u);
    const std::vector<uint8_t> sent = CommandsSince(before);
    EXPECT_EQ(Count(sent, protocol::CMD_LOAD_USER_PARAMETER), 2u);
    EXPECT_EQ(Count(sent, protocol::CMD_FLASH_USER_PARAMETERS), 0u);
    EXPECT_EQ(Count(sent, protocol::CMD_LOAD_FACTORY), 0u);
    const TSensorStore now = demo->sensor->Store();
    EXPECT_EQ(now.working.User(USER_RESULT_LENGTH), 1);
    EXPECT_EQ(now.working.User(USER_LASER_INTENSITY), 5);
    EXPECT_EQ(now.flash.factory, at_start.flash.factory); // FLASH untouched
    EXPECT_EQ(Cell(window->Parameter_Editors->ValueListEditor_User_Parameters, USER_RESULT_LENGTH), "256");
    EXPECT_EQ(window->User_Params[USER_LASER_INTENSITY], 5);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Loaded 2 value(s): Result length, Laser intensity. They are kept after a restart "
              "once written with \"Write to FLASH\".");

    // Once more: the sensor holds the file now, nothing goes out.
    before = demo->sensor->Commands().size();
    Apply(path, true);
    EXPECT_EQ(Count(CommandsSince(before), protocol::CMD_LOAD_USER_PARAMETER), 0u);
    EXPECT_TRUE(boxes.back().text.contains("nothing to load")) << boxes.back().text.toStdString();
}

TEST_F(SettingsWindow, InServiceModeTheFactoryBlockGoesAsOneLoadBeforeTheUserLoads) {
    options.service = true;
    window.reset();
    Start(false);
    window->Start_Dir = folder.path();
    Connect();
    const QString path = Save("service.json", 1); // from the factory editor's menu
    TSensorSettings saved;
    ASSERT_TRUE(ReadSettingsFile(path.toStdString(), saved).ok);
    ASSERT_TRUE(saved.has_factory);
    Edit(path, [](TSensorSettings& s) {
        s.factory[5] = 42;
        s.user[USER_POINT_TIME] = 7;
    });
    const size_t before = demo->sensor->Commands().size();
    Apply(path, true);
    ASSERT_EQ(window->Sensor_Result, 0u);
    std::vector<uint8_t> sent = CommandsSince(before);
    const auto factory_load = std::find(sent.begin(), sent.end(), protocol::CMD_LOAD_FACTORY);
    const auto user_load = std::find(sent.begin(), sent.end(), protocol::CMD_LOAD_USER_PARAMETER);
    ASSERT_NE(factory_load, sent.end());
    EXPECT_LT(factory_load, user_load);
    EXPECT_EQ(Count(sent, protocol::CMD_LOAD_FACTORY), 1u);
    EXPECT_EQ(Count(sent, protocol::CMD_LOAD_USER_PARAMETER), 1u);
    EXPECT_EQ(demo->sensor->Store().working.factory[5], 42);
    EXPECT_EQ(Cell(window->Parameter_Editors->ValueListEditor_Factory_Parameters, 5), "42");
}

TEST_F(SettingsWindow, BadFilesAreRefusedNamingTheFileAndTheFieldAndNothingIsSent) {
    Connect();
    const QString path = Save("good.json");
    std::ifstream in(path.toStdString());
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct TCase {
        const char* name;
        std::string text;
        const char* expected;
    };
    std::string too_big = good;
    too_big.replace(too_big.find("\"Laser intensity\": "), std::string("\"Laser intensity\": ").size(),
                    "\"Laser intensity\": 300, \"x\": ");
    std::string out_of_range = good;
    const size_t at = out_of_range.find("\"Exposure\": ") + std::string("\"Exposure\": ").size();
    out_of_range.replace(at, out_of_range.find_first_of(",\n", at) - at, "20000");
    const TCase cases[] = {
        {"not-json.json", "this is no settings file", "not JSON"},
        {"exposure.json", out_of_range, "user_parameters.Exposure: 20000"},
        {"unknown.json", too_big, "user_parameters"},
    };
    for (const TCase& c : cases) {
        const QString bad = folder.path() + "/" + c.name;
        std::ofstream(bad.toStdString()) << c.text;
        boxes.clear();
        const size_t before = demo->sensor->Commands().size();
        Apply(bad, true);
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(boxes[0].text.contains(bad)) << boxes[0].text.toStdString();
        EXPECT_TRUE(boxes[0].text.contains(c.expected)) << boxes[0].text.toStdString();
        EXPECT_EQ(demo->sensor->Commands().size(), before) << c.name; // not one byte
        EXPECT_EQ(window->Sensor_Result, 0u);
    }
}

TEST_F(SettingsWindow, AFileOfAnotherDeviceTypeIsAskedAboutAndNoLoadsNothing) {
    Connect();
    const QString path = Save("other.json");
    Edit(path, [](TSensorSettings& s) {
        s.device_type = 999;
        s.user[USER_LASER_INTENSITY] = 5;
    });
    QMessageBox::StandardButton reply = QMessageBox::No;
    QString question;
    window->ShowModal = [&](QDialog& dialog) {
        if (auto* box = dynamic_cast<QMessageBox*>(&dialog); box && box->icon() == QMessageBox::Question) {
            question = box->text();
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            return static_cast<int>(reply);
        }
        return Answer(dialog);
    };
    size_t before = demo->sensor->Commands().size();
    Apply(path, true);
    EXPECT_TRUE(question.contains("device type 999")) << question.toStdString();
    EXPECT_EQ(Count(CommandsSince(before), protocol::CMD_LOAD_USER_PARAMETER), 0u);
    EXPECT_TRUE(shown.isEmpty());

    reply = QMessageBox::Yes;
    before = demo->sensor->Commands().size();
    Apply(path, true);
    EXPECT_EQ(Count(CommandsSince(before), protocol::CMD_LOAD_USER_PARAMETER), 1u);
    EXPECT_EQ(demo->sensor->Store().working.User(USER_LASER_INTENSITY), 5);
}

TEST_F(SettingsWindow, ASilentSensorGoesToTheErrorMonitorAndNoFileIsWritten) {
    Connect();
    demo->sensor->InjectFault(TSensorFault::NO_REPLY, TFaultMode::EVERY_REPLY);
    const QString path = Save("silent.json");
    EXPECT_EQ(window->Sensor_Result, 3u);
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    EXPECT_EQ(boxes[0].text, "Read timeout.");
    EXPECT_EQ(boxes.size(), 1u);
}

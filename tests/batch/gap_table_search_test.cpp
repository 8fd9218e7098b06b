// Where the commands find EGapDis.txt when none is named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "batch/gap_table_search.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

struct Folders {
  test::TempDir dir;
  fs::path program = dir.path() / "bin";
  fs::path user = dir.path() / "config" / "Velmora";
  fs::path shared = dir.path() / "share" / "velmora";
  Folders() {
    fs::create_directories(program);
    fs::create_directories(user);
    fs::create_directories(shared);
  }
  std::vector<fs::path> places() const {
    return {program / "EGapDis.txt", user / "EGapDis.txt", shared / "EGapDis.txt"};
  }
};

TEST(GapTableSearch, BesideTheProgramThenTheUsersThenTheShared) {
  Folders f;
  for (const auto& place : f.places()) std::ofstream(place) << "gap,value\n";

  GapTableSearch search = FindGapTable(f.program, f.user);
  EXPECT_EQ(search.searched, f.places());
  EXPECT_EQ(search.found, f.places()[0]);

  // A folder of that name is no table.
  fs::remove(f.places()[0]);
  fs::create_directory(f.places()[0]);
  EXPECT_EQ(FindGapTable(f.program, f.user).found, f.places()[1]);

  // The shared table, named without "..": messages and later views show it.
  fs::remove(f.places()[1]);
  search = FindGapTable(f.program, f.user);
  EXPECT_EQ(search.found.native(), f.places()[2].native());

  // Without a settings folder the user's place is not searched.
  fs::remove(f.places()[2]);
  search = FindGapTable(f.program, fs::path());
  EXPECT_TRUE(search.found.empty());
  EXPECT_EQ(search.searched, (std::vector<fs::path>{f.places()[0], f.places()[2]}));
}

TEST(GapTableSearch, NothingFoundNamesEveryPlaceSearched) {
  Folders f;
  test::RecordingReporter reporter;
  fs::path found = "before";
  EXPECT_FALSE(LocateGapTable(f.program, f.user, found, reporter));
  ASSERT_EQ(reporter.messages.size(), 1u);
  EXPECT_TRUE(reporter.messages[0].isError);
  // The message users know stays the first line.
  EXPECT_EQ(reporter.messages[0].text, "EGapDis.txtを正しく読み取れません\n探した場所:\n  " +
                                           f.places()[0].string() + "\n  " + f.places()[1].string() + "\n  " +
                                           f.places()[2].string());

  std::ofstream(f.places()[1]) << "not even a table";  // reading it is the load's business
  EXPECT_TRUE(LocateGapTable(f.program, f.user, found, reporter));
  EXPECT_EQ(found, f.places()[1]);
  EXPECT_EQ(reporter.messages.size(), 1u);
}

#if defined(_WIN32)
// The folder QSettings gives an IniFormat store: the roaming application data.
TEST(GapTableSearch, UserFolderIsTheFolderOfTheSettingsStore) {
  const wchar_t* appData = _wgetenv(L"APPDATA");
  ASSERT_NE(appData, nullptr);
  EXPECT_EQ(UserSettingsFolder(), fs::path(appData) / "Velmora");
}
#else
// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  explicit ScopedEnv(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  void set(const char* value) {
    if (value) {
      ::setenv(name_, value, 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(GapTableSearch, UserFolderIsTheFolderOfTheSettingsStore) {
  ScopedEnv config("XDG_CONFIG_HOME"), home("HOME");
  home.set("/home/someone");
  config.set("/data/config");
  EXPECT_EQ(UserSettingsFolder(), fs::path("/data/config/Velmora"));
  config.set(nullptr);
  EXPECT_EQ(UserSettingsFolder(), fs::path("/home/someone/.config/Velmora"));
  config.set("");
  EXPECT_EQ(UserSettingsFolder(), fs::path("/home/someone/.config/Velmora"));
  config.set("relative/config");  // not absolute: ignored
  EXPECT_EQ(UserSettingsFolder(), fs::path("/home/someone/.config/Velmora"));
  home.set(nullptr);
  config.set(nullptr);
  EXPECT_TRUE(UserSettingsFolder().empty());
}
#endif

}  // namespace
}  // namespace velmora

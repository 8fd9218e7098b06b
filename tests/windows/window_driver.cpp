// Drives the real velmora.exe as a user's clicks would, through window
// messages only: finds each box by the label created just before it, types
// with WM_SETTEXT, clicks with BM_CLICK, reads the result boxes and reads and
// answers the message boxes and the file dialogs.
//   window_driver VELMORA.exe VELMORA-BATCH.exe WORK-FOLDER
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "form/layout.h"

namespace fs = std::filesystem;

namespace {

int failures = 0;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

void Same(const std::wstring& got, const std::wstring& want, const std::string& what) {
  Check(got == want, what + ": \"" + Utf8(got) + "\"" + (got == want ? "" : " (want \"" + Utf8(want) + "\")"));
}

HWND WaitFor(const std::function<HWND()>& find, int ms = 30000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (HWND h = find()) return h;
    Sleep(20);
  }
  return nullptr;
}

std::wstring Text(HWND h) {
  wchar_t buffer[4096] = {};
  SendMessageW(h, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

std::wstring ClassOf(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

struct App {
  PROCESS_INFORMATION process{};
  HWND main = nullptr;
  DWORD thread = 0;
};

App Start(const std::wstring& exe) {
  App app;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::wstring command = L"\"" + exe + L"\"";
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &app.process)) {
    Check(false, "velmora.exe starts");
    return app;
  }
  const DWORD pid = app.process.dwProcessId;
  app.main = WaitFor([pid] {
    HWND h = nullptr;
    while ((h = FindWindowExW(nullptr, h, L"VelmoraMain", L"Velmora")) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(h, &owner);
      if (owner == pid && IsWindowVisible(h)) return h;
    }
    return static_cast<HWND>(nullptr);
  }, 60000);
  Check(app.main != nullptr, "the window \"Velmora\" appears");
  if (app.main) app.thread = GetWindowThreadProcessId(app.main, nullptr);
  return app;
}

bool Ended(App& app, int ms) {
  const bool ended = WaitForSingleObject(app.process.hProcess, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
  if (ended) {
    CloseHandle(app.process.hProcess);
    CloseHandle(app.process.hThread);
  }
  return ended;
}

std::vector<HWND> Children(HWND main) {
  std::vector<HWND> all;
  for (HWND h = GetWindow(main, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) all.push_back(h);
  return all;
}

// The box a screen reader names by `label`: the control created right after it.
HWND Box(HWND main, const std::wstring& label) {
  const std::vector<HWND> all = Children(main);
  for (std::size_t i = 0; i + 1 < all.size(); ++i) {
    if (ClassOf(all[i]) == L"Static" && Text(all[i]) == label) return all[i + 1];
  }
  std::printf("FAIL no box after the label %s\n", Utf8(label).c_str());
  ++failures;
  return nullptr;
}

HWND Button(HWND main, const std::wstring& caption) {
  for (HWND h : Children(main)) {
    if (ClassOf(h) == L"Button" && Text(h) == caption) return h;
  }
  std::printf("FAIL no button %s\n", Utf8(caption).c_str());
  ++failures;
  return nullptr;
}

HWND Focused(const App& app) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(app.thread, &info);
  return info.hwndFocus;
}

// A click whose handling may wait for a message box: sent from a thread of
// its own, done when joined.
std::thread Click(HWND button) {
  return std::thread([button] { SendMessageW(button, BM_CLICK, 0, 0); });
}

void ClickAndWait(HWND button) { Click(button).join(); }

HWND OwnedDialog(const App& app, const std::wstring& title, int ms = 30000) {
  return WaitFor([&] {
    HWND found = nullptr;
    HWND h = nullptr;
    while ((h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(h, &pid);
      if (pid == app.process.dwProcessId && IsWindowVisible(h) && Text(h) == title) found = h;
    }
    return found;
  }, ms);
}

// Reads the message box's text, answers OK, and waits for it to go.
std::wstring AnswerMessage(const App& app) {
  HWND box = OwnedDialog(app, L"Velmora");
  if (!box) return L"(no message box)";
  const std::wstring text = Text(GetDlgItem(box, 0xFFFF));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  WaitFor([box] { return IsWindow(box) ? nullptr : reinterpret_cast<HWND>(1); });
  return text;
}

void ChooseFile(const App& app, HWND button, const std::wstring& title, const std::wstring& path) {
  std::thread click = Click(button);
  HWND dialog = OwnedDialog(app, title);
  Check(dialog != nullptr, "the dialog " + Utf8(title) + " opens");
  if (dialog) {
    // The file name box: an edit box, alone or inside the name combo box.
    HWND name = GetDlgItem(dialog, 0x47C);
    if (!name) name = GetDlgItem(dialog, 0x480);
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    const bool closed = WaitFor([dialog] { return IsWindow(dialog) ? nullptr : reinterpret_cast<HWND>(1); }, 20000);
    if (!closed) {
      Check(false, "the dialog takes the name " + Utf8(path));
      for (HWND h = GetWindow(dialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        std::printf("     child %x %s \"%s\"\n", GetDlgCtrlID(h), Utf8(ClassOf(h)).c_str(), Utf8(Text(h)).c_str());
      }
      // A message box the dialog may have shown over itself.
      HWND h = nullptr;
      while ((h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid == app.process.dwProcessId && IsWindowVisible(h)) {
          std::printf("     window \"%s\": %s\n", Utf8(Text(h)).c_str(), Utf8(Text(GetDlgItem(h, 0xFFFF))).c_str());
        }
      }
      TerminateProcess(app.process.hProcess, 1);
      ExitProcess(1);
    }
  }
  click.join();
}

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::wstring Results(HWND main) {
  std::wstring all;
  for (const wchar_t* label :
       {L"家計の選好特性：", L"住民の治水投資に対する支払い意思額：", L"保険の最適カバー率：", L"流動性制約に伴う復旧遅延被害額："}) {
    all += Text(Box(main, label)) + L" ";
  }
  return all;
}

constexpr wchar_t kSettingKey[] = L"Software\\Velmora\\Velmora\\Setting";

// The screen's DPI for the programs started from now on (Wine reads it at
// a program's start).
void SetDpi(DWORD dpi) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    RegCloseKey(key);
  }
}

SIZE ClientSize(HWND h) {
  RECT r{};
  GetClientRect(h, &r);
  return {r.right - r.left, r.bottom - r.top};
}

SIZE OuterSize(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// Runs a command of the menu bar by its name in the layout (menus belong to
// their process under Wine: the window's command for item i of the layout's
// menus is 1000 + i).
void Menu(HWND main, std::string_view name) {
  const auto menus = velmora::form::Menus();
  for (std::size_t i = 0; i < menus.size(); ++i) {
    if (menus[i].name == name) {
      PostMessageW(main, WM_COMMAND, MAKEWPARAM(1000 + i, 0), 0);
      return;
    }
  }
  std::printf("FAIL no menu item %s\n", std::string(name).c_str());
  ++failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: window_driver VELMORA.exe VELMORA-BATCH.exe WORK-FOLDER\n");
    return 2;
  }
  // Windows paths, whatever separators they were given with.
  const std::wstring exe = fs::path(argv[1]).make_preferred().wstring();
  const std::wstring tool = fs::path(argv[2]).make_preferred().wstring();
  const fs::path work = fs::path(argv[3]).make_preferred();
  // Sizes as the window has them, not scaled down for a program unaware of
  // DPI.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  // A first start: nothing stored, at 96 dots per inch.
  SetDpi(96);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velmora\\Velmora");

  App app = Start(exe);
  if (!app.main) return 1;
  const HWND main = app.main;
  const HWND exec = Button(main, L"個別計算(&A)");
  const HWND premium = Button(main, L"リスクプレミアムを考慮する(&T)");

  // --- The worked example in both modes.
  ClickAndWait(exec);
  Same(Results(main), L"0.394 1.343 0.664 0.000 ", "with the risk premium");
  {
    const SIZE client = ClientSize(main);
    const SIZE box = OuterSize(Box(main, L"家屋被害："));
    Check(client.cx == 671 && client.cy == 376 && box.cx == 105 && box.cy == 18,
          "at 96 DPI: client 671x376, a box 105x18 (" + std::to_string(client.cx) + "x" + std::to_string(client.cy) +
              ", " + std::to_string(box.cx) + "x" + std::to_string(box.cy) + ")");
    // 表示 → 計算過程: the figures as selectable text.
    Menu(main, "menExplain");
    HWND view = WaitFor([] { return FindWindowW(L"VelmoraView", L"計算過程"); });
    const std::wstring shown = view ? Text(GetWindow(view, GW_CHILD)) : L"";
    Check(shown.find(L"GapKey") != std::wstring::npos && shown.find(L"SHA-256") != std::wstring::npos,
          "表示 → 計算過程 lists the quantities and the table's SHA-256");
    if (view) PostMessageW(view, WM_CLOSE, 0, 0);
  }
  const HWND c1 = Box(main, L"保険加入率：");
  const HWND u9 = Box(main, L"物質資産への投資を除く消費額：");
  Check(!IsWindowEnabled(c1) && IsWindowEnabled(u9), "checked: txtC1 greyed out, txtU9 editable");
  ClickAndWait(premium);
  Check(IsWindowEnabled(c1) && !IsWindowEnabled(u9), "unchecked: txtC1 editable, txtU9 greyed out");
  Same(Results(main), L"0.394 1.343 0.664 0.000 ", "switching alone keeps the results");
  ClickAndWait(exec);
  Same(Results(main), L"- - - 0.142 ", "without the risk premium");
  ClickAndWait(premium);

  // --- Tab order from the check box (txtC1 is skipped while disabled).
  {
    ClickAndWait(premium);
    ClickAndWait(premium);  // the check box has the focus, checked again
    const wchar_t* order[] = {L"txtC2", L"txtC3", L"txtC4", L"cmdSelInFile", L"cmdSelOutFile", L"cmdExecAll",
                              L"txtU2", L"txtU3", L"txtU4", L"txtU5", L"txtU6", L"txtU7", L"txtU8", L"txtU9",
                              L"cmdExec", L"txtOutFile", L"txtInFile", L"txtA4", L"txtA3", L"txtA1", L"txtA2",
                              L"chkRP"};
    // What each name is, by the label before it or by its caption.
    const std::map<std::wstring, HWND> named = {
        {L"chkRP", premium},
        {L"txtC2", Box(main, L"被害の発生確率：")},
        {L"txtC3", Box(main, L"利子率：")},
        {L"txtC4", Box(main, L"マークアップ率：")},
        {L"cmdSelInFile", GetWindow(Box(main, L"入力ファイル"), GW_HWNDNEXT)},
        {L"cmdSelOutFile", GetWindow(Box(main, L"出力ファイル"), GW_HWNDNEXT)},
        {L"cmdExecAll", Button(main, L"一括計算(&E)")},
        {L"txtU2", Box(main, L"家屋被害：")},
        {L"txtU3", Box(main, L"家財被害：")},
        {L"txtU4", Box(main, L"世帯金融資産残高：")},
        {L"txtU5", Box(main, L"世帯年収：")},
        {L"txtU6", Box(main, L"土地資産額：")},
        {L"txtU7", Box(main, L"家庭用品額：")},
        {L"txtU8", Box(main, L"家屋価格：")},
        {L"txtU9", u9},
        {L"cmdExec", exec},
        {L"txtOutFile", Box(main, L"出力ファイル")},
        {L"txtInFile", Box(main, L"入力ファイル")},
        {L"txtA1", Box(main, L"家計の選好特性：")},
        {L"txtA2", Box(main, L"住民の治水投資に対する支払い意思額：")},
        {L"txtA3", Box(main, L"保険の最適カバー率：")},
        {L"txtA4", Box(main, L"流動性制約に伴う復旧遅延被害額：")}};
    bool inOrder = Focused(app) == premium;
    std::string seen;
    for (const wchar_t* name : order) {
      PostMessageW(Focused(app), WM_KEYDOWN, VK_TAB, 0);
      PostMessageW(Focused(app), WM_KEYUP, VK_TAB, 0);
      SendMessageW(main, WM_NULL, 0, 0);
      Sleep(30);
      SendMessageW(main, WM_NULL, 0, 0);
      const bool right = Focused(app) == named.at(name);
      inOrder = inOrder && right;
      seen += Utf8(name) + (right ? " " : "(no) ");
    }
    Check(inOrder, "Tab goes in the layout's order: " + seen);
  }

  // --- Each check's message, the box to correct focused, texts kept.
  struct Case {
    std::vector<std::pair<const wchar_t*, const wchar_t*>> texts;  // label, text
    const wchar_t* message;
    const wchar_t* focus;  // label of the box put in focus
  };
  const Case cases[] = {
      {{{L"利子率：", L""}}, L"「全メッシュ共通の設定値」に誤りがあります", L"利子率："},
      {{{L"マークアップ率：", L"0"}}, L"マークアップ率に「0」は指定できません", L"マークアップ率："},
      {{{L"物質資産への投資を除く消費額：", L""}}, L"入力値に誤りがあります", L"物質資産への投資を除く消費額："},
      {{{L"家庭用品額：", L"5"}, {L"家屋価格：", L"-5"}},
       L"「家庭用品額」＋「家屋価格」は0以上である必要があります", L"家庭用品額："},
      {{{L"世帯金融資産残高：", L"0"}, {L"世帯年収：", L"0"}},
       L"「世帯金融資産残高」＋「世帯年収」は0以上である必要があります", L"世帯金融資産残高："},
  };
  ClickAndWait(exec);
  for (const Case& k : cases) {
    std::vector<std::pair<HWND, std::wstring>> kept;
    for (const auto& [label, text] : k.texts) {
      HWND box = Box(main, label);
      kept.emplace_back(box, Text(box));
      SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    std::thread click = Click(exec);
    Same(AnswerMessage(app), k.message, "the check's message");
    click.join();
    Check(Focused(app) == Box(main, k.focus), "then the focus is in " + Utf8(k.focus));
    for (const auto& [label, text] : k.texts) Same(Text(Box(main, label)), text, "  its text stays");
    Same(Results(main), L"0.394 1.343 0.664 0.000 ", "  the earlier results stay");
    for (const auto& [box, text] : kept) SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }

  // --- A batch from the window: the same bytes as velmora-batch's.
  fs::create_directories(work);
  const fs::path input = work / L"世帯データ.csv";
  {
    std::ofstream out(input, std::ios::binary);
    out << "house,goods,income,assets,land,goodsvalue,price,consumption\r\n";
    for (int i = 0; i < 2000; ++i) {
      out << 9.725 + i * 0.01 << ",7.38," << 4.81 - i * 0.001 << ",3.57,7.416,14.759,22.616,3.321\r\n";
    }
    out << "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  }
  ChooseFile(app, GetWindow(Box(main, L"入力ファイル"), GW_HWNDNEXT), L"ファイルを開く", input.wstring());
  Same(Text(Box(main, L"入力ファイル")), input.wstring(), "the open dialog fills 入力ファイル");
  ChooseFile(app, GetWindow(Box(main, L"出力ファイル"), GW_HWNDNEXT), L"ファイルを保存する", (work / L"結果").wstring());
  const fs::path output = work / L"結果.csv";
  Same(Text(Box(main, L"出力ファイル")), output.wstring(), "the save dialog fills 出力ファイル, .csv appended");
  const HWND execAll = Button(main, L"一括計算(&E)");
  ClickAndWait(execAll);
  const std::wstring done = AnswerMessage(app);
  Check(done.rfind(L"一括計算の結果を出力ファイルに書き込みました", 0) == 0 && done.find(L"2000") != std::wstring::npos,
        "the completion message with the summary: " + Utf8(done));
  const fs::path reference = work / L"reference.csv";
  {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + tool + L"\" --quiet \"" + input.wstring() + L"\" \"" + reference.wstring() + L"\"";
    if (CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      WaitForSingleObject(pi.hProcess, 60000);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
  }
  const std::string written = ReadBytes(output);
  Check(!written.empty() && written == ReadBytes(reference),
        "the window's result file has velmora-batch's bytes (" + std::to_string(written.size()) + " bytes)");

  // --- A close during a batch: the earlier output stays, no temporary file.
  {
    std::ofstream out(input, std::ios::binary);
    out << "house,goods,income,assets,land,goodsvalue,price,consumption\r\n";
    const std::string line = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
    std::string block;
    for (int i = 0; i < 10000; ++i) block += line;
    for (int i = 0; i < 100; ++i) out << block;
  }
  // 中止: the run stops, the window is usable again and says so, the
  // earlier output stays.
  ClickAndWait(execAll);
  ClickAndWait(Button(main, L"中止(&C)"));
  Check(WaitFor([exec] { return IsWindowEnabled(exec) ? exec : nullptr; }) != nullptr, "中止 gives the buttons back");
  Same(AnswerMessage(app), L"一括計算を中止しました。出力ファイルは以前のままです。", "中止 says so");
  Check(ReadBytes(output) == written, "中止 keeps the earlier output");

  ClickAndWait(execAll);
  HWND progress = nullptr;
  for (HWND h : Children(main)) {
    if (ClassOf(h) == L"msctls_progress32") progress = h;
  }
  Check(progress && IsWindowVisible(progress) && IsWindowVisible(Button(main, L"中止(&C)")) && !IsWindowEnabled(exec),
        "during the batch: the progress bar and 中止 shown, 個別計算 waits");
  // Typed during the run, kept by the close.
  SendMessageW(Box(main, L"家屋被害："), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"1.5"));
  SendMessageW(Box(main, L"利子率："), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  SendMessageW(u9, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"abc"));
  PostMessageW(main, WM_CLOSE, 0, 0);
  Check(Ended(app, 30000), "the close ends the program during the batch");
  Check(ReadBytes(output) == written, "the earlier output is kept");
  std::set<std::wstring> files;
  for (const auto& entry : fs::directory_iterator(work)) files.insert(entry.path().filename().wstring());
  Check(files == std::set<std::wstring>{L"世帯データ.csv", L"結果.csv", L"reference.csv"}, "no temporary file is left");

  // --- The settings in the registry, and again after a restart.
  HKEY key = nullptr;
  DWORD values = 0;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    wchar_t text[64] = {};
    DWORD bytes = sizeof text;
    DWORD type = 0;
    RegQueryValueExW(key, L"txtU2", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    Check(type == REG_SZ && std::wstring(text) == L"1.5", "txtU2 is stored as REG_SZ \"1.5\"");
    RegCloseKey(key);
  }
  Check(values == 12, "HKCU\\Software\\Velmora\\Velmora\\Setting holds twelve values: " + std::to_string(values));
  SetDpi(144);
  App again = Start(exe);
  SetDpi(96);
  if (!again.main) return 1;
  {
    const SIZE client = ClientSize(again.main);
    const SIZE box = OuterSize(Box(again.main, L"家屋被害："));
    Check(client.cx == 1007 && client.cy == 564 && box.cx == 158 && box.cy == 27,
          "at 144 DPI: everything half as large again (" + std::to_string(client.cx) + "x" +
              std::to_string(client.cy) + ", a box " + std::to_string(box.cx) + "x" + std::to_string(box.cy) + ")");
  }
  Same(Text(Box(again.main, L"家屋被害：")), L"1.5", "after a restart: txtU2");
  Same(Text(Box(again.main, L"利子率：")), L"", "after a restart: the emptied txtC3");
  Same(Text(Box(again.main, L"物質資産への投資を除く消費額：")), L"abc", "after a restart: txtU9");
  Same(Text(Box(again.main, L"保険加入率：")), L"0.610", "after a restart: txtC1 as before");
  // Log-off or shut-down: the settings are kept before the session ends.
  SendMessageW(Box(again.main, L"家財被害："), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7.5"));
  SendMessageW(again.main, WM_ENDSESSION, TRUE, 0);
  {
    wchar_t text[64] = {};
    DWORD bytes = sizeof text;
    RegGetValueW(HKEY_CURRENT_USER, kSettingKey, L"txtU3", RRF_RT_REG_SZ, nullptr, text, &bytes);
    Same(text, L"7.5", "the session's end stores txtU3");
  }
  PostMessageW(again.main, WM_CLOSE, 0, 0);
  Check(Ended(again, 30000), "the second window closes");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velmora\\Velmora");
  fs::remove_all(work);
  std::printf("%s\n", failures == 0 ? "all passed" : "FAILED");
  return failures == 0 ? 0 : 1;
}

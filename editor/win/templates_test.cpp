// The dialog templates as they are linked into the program, read back from
// the resources byte by byte: styles, captions, fonts, and every control's
// class, id, text, position and style bits in template (tab) order.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "editor/win/resource.h"

namespace qova {
namespace {

enum : uint16_t { kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83 };

struct Control {
  uint16_t kind;
  int id;  // -1 for none
  std::string text;
  short x, y, cx, cy;
  DWORD style;  // WS_CHILD | WS_VISIBLE are added to every control
};

struct Dialog {
  DWORD style;
  std::string caption;
  short cx, cy;
  uint16_t pointSize;
  std::string font;
  std::vector<Control> controls;
};

// Reads the classic (non-extended) template format.
class TemplateReader {
 public:
  explicit TemplateReader(const uint8_t* data) : p_(data) {}
  template <typename T>
  T take() {
    T value;
    std::memcpy(&value, p_, sizeof value);
    p_ += sizeof value;
    return value;
  }
  // A text, or an ordinal (0xFFFF and a number) written as "#number".
  std::string text() {
    uint16_t first = take<uint16_t>();
    if (first == 0xFFFF) return "#" + std::to_string(take<uint16_t>());
    std::string out;
    for (uint16_t c = first; c != 0; c = take<uint16_t>()) out += static_cast<char>(c);
    return out;
  }
  void alignDword(const uint8_t* base) {
    while ((p_ - base) % 4 != 0) ++p_;
  }
  void skip(size_t bytes) { p_ += bytes; }

 private:
  const uint8_t* p_;
};

// A control class given by ordinal ("#128") or by its name.
uint16_t kindOf(const std::string& name) {
  if (name.size() > 1 && name[0] == '#') return static_cast<uint16_t>(std::stoi(name.substr(1)));
  const std::pair<const char*, uint16_t> names[] = {
      {"BUTTON", kButton}, {"EDIT", kEdit}, {"STATIC", kStatic}, {"LISTBOX", kListBox}};
  for (const auto& entry : names) {
    if (lstrcmpiA(name.c_str(), entry.first) == 0) return entry.second;
  }
  return 0;
}

bool readDialog(int id, Dialog* dialog, std::string* error) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (resource == nullptr) {
    *error = "no template";
    return false;
  }
  const uint8_t* base = static_cast<const uint8_t*>(LockResource(LoadResource(module, resource)));
  TemplateReader r(base);
  dialog->style = r.take<DWORD>();
  if ((dialog->style & 0xFFFF0000u) == 0xFFFF0000u) {
    *error = "extended template";
    return false;
  }
  r.take<DWORD>();  // extended style
  uint16_t count = r.take<uint16_t>();
  r.take<short>();
  r.take<short>();
  dialog->cx = r.take<short>();
  dialog->cy = r.take<short>();
  std::string menu = r.text();
  std::string windowClass = r.text();
  if (!menu.empty() || !windowClass.empty()) {
    *error = "menu or class given";
    return false;
  }
  dialog->caption = r.text();
  if (dialog->style & DS_SETFONT) {
    dialog->pointSize = r.take<uint16_t>();
    dialog->font = r.text();
  }
  for (uint16_t i = 0; i < count; ++i) {
    r.alignDword(base);
    Control c;
    c.style = r.take<DWORD>();
    r.take<DWORD>();
    c.x = r.take<short>();
    c.y = r.take<short>();
    c.cx = r.take<short>();
    c.cy = r.take<short>();
    uint16_t controlId = r.take<uint16_t>();
    c.id = controlId == 0xFFFF ? -1 : controlId;
    std::string kind = r.text();
    c.kind = kindOf(kind);
    c.text = r.text();
    r.skip(r.take<uint16_t>());
    dialog->controls.push_back(c);
  }
  return true;
}

constexpr DWORD kEditStyle = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kRadio = BS_AUTORADIOBUTTON;
constexpr DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kDefault = BS_DEFPUSHBUTTON | WS_TABSTOP;
constexpr DWORD kLabel = SS_LEFT | WS_GROUP;
constexpr DWORD kFrame = BS_GROUPBOX;

const Dialog kEditorDialog = {WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                  DS_CENTER | DS_MODALFRAME | DS_SETFONT,
                              "Question DB Maker",
                              322,
                              185,
                              8,
                              "MS Sans Serif",
                              {
                                  {kEdit, 1005, "", 29, 31, 221, 12, kEditStyle},
                                  {kEdit, 1007, "", 29, 59, 222, 12, kEditStyle},
                                  {kEdit, 1008, "", 29, 77, 222, 12, kEditStyle},
                                  {kEdit, 1009, "", 29, 95, 222, 12, kEditStyle},
                                  {kEdit, 1010, "", 29, 113, 222, 12, kEditStyle},
                                  {kEdit, 1029, "", 29, 131, 222, 12, kEditStyle | WS_DISABLED},
                                  {kButton, 1022, "", 15, 61, 9, 8, kRadio},
                                  {kButton, 1023, "", 15, 79, 9, 8, kRadio},
                                  {kButton, 1024, "", 15, 97, 9, 8, kRadio},
                                  {kButton, 1026, "", 15, 115, 9, 8, kRadio},
                                  {kButton, 1030, "", 15, 133, 9, 8, kRadio | WS_DISABLED},
                                  {kStatic, -1, "Current Record:", 159, 4, 51, 8, kLabel},
                                  {kStatic, 1031, "", 211, 4, 42, 8, kLabel},
                                  {kStatic, -1, "Total Records:", 163, 14, 48, 8, kLabel},
                                  {kStatic, 1032, "", 211, 14, 41, 8, kLabel},
                                  {kButton, 1025, "Prev", 82, 158, 34, 14, kPush},
                                  {kButton, 1027, "Next", 117, 158, 34, 14, kPush},
                                  {kButton, 1033, "Find Record", 185, 158, 44, 14, kPush},
                                  {kButton, 1028, "Seek", 230, 158, 22, 14, kPush},
                                  {kButton, 1013, "New", 271, 32, 44, 12, kPush},
                                  {kButton, 1014, "Open", 271, 45, 44, 12, kPush},
                                  {kButton, 1012, "Save (As)", 271, 58, 44, 12, kPush},
                                  {kButton, 1016, "Quit", 271, 113, 44, 12, kPush},
                                  {kButton, 1000, "4", 84, 8, 20, 10, kRadio},
                                  {kButton, 1002, "5", 111, 8, 20, 10, kRadio},
                                  {kStatic, -1, "Number of responses:", 8, 8, 70, 8, kLabel},
                                  {kButton, -1, "Question", 7, 21, 252, 157, kFrame},
                                  {kButton, -1, "Responses", 7, 46, 252, 107, kFrame},
                                  {kButton, 1015, "Convert Txt", 271, 77, 44, 12, kPush},
                                  {kButton, 1017, "Append Qdb", 271, 90, 44, 12, kPush},
                                  {kButton, 1054, "Erase", 16, 160, 34, 10, kCheck | BS_MULTILINE},
                                  {kButton, 1055, "Import...", 271, 158, 44, 14, kPush},
                              }};

const Dialog kSeekDialog = {WS_POPUP | WS_CAPTION | DS_CENTER | DS_MODALFRAME | DS_SETFONT,
                            "Seek To Record:",
                            175,
                            28,
                            8,
                            "MS Sans Serif",
                            {
                                {kEdit, 1034, "", 62, 8, 36, 12, kEditStyle | ES_NUMBER},
                                {kButton, 1035, "Go", 109, 7, 27, 14, kDefault},
                                {kButton, 1036, "Cancel", 140, 7, 27, 14, kPush},
                                {kStatic, -1, "Record number:", 7, 10, 52, 8, kLabel},
                            }};

const Dialog kFindRecordDialog = {
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER | DS_MODALFRAME |
        DS_SETFONT,
    "Find Record",
    285,
    170,
    8,
    "MS Sans Serif",
    {
        {kEdit, 1005, "", 29, 29, 221, 12, kEditStyle},
        {kEdit, 1007, "", 29, 57, 222, 12, kEditStyle},
        {kEdit, 1008, "", 29, 75, 222, 12, kEditStyle},
        {kEdit, 1009, "", 29, 93, 222, 12, kEditStyle},
        {kEdit, 1010, "", 29, 112, 222, 12, kEditStyle},
        {kEdit, 1029, "", 29, 129, 222, 12, kEditStyle | WS_DISABLED},
        {kButton, 1022, "", 15, 59, 9, 8, kRadio},
        {kButton, 1023, "", 15, 77, 9, 8, kRadio},
        {kButton, 1024, "", 15, 96, 9, 8, kRadio},
        {kButton, 1026, "", 15, 113, 9, 8, kRadio},
        {kButton, 1030, "", 15, 131, 9, 8, kRadio | WS_DISABLED},
        {kButton, -1, "Question", 7, 19, 271, 145, kFrame},
        {kButton, -1, "Responses", 7, 45, 271, 119, kFrame},
        {kButton, 1033, "Find", 111, 145, 30, 14, kDefault},
        {kButton, 1042, "", 259, 32, 16, 8, kCheck},
        {kButton, 1043, "", 259, 77, 16, 8, kCheck},
        {kButton, 1044, "", 259, 95, 16, 8, kCheck},
        {kButton, 1045, "", 259, 114, 16, 8, kCheck},
        {kButton, 1046, "", 259, 131, 16, 8, kCheck},
        {kButton, 1047, "", 259, 59, 16, 8, kCheck},
        {kButton, 1048, "", 15, 147, 16, 8, kCheck},
        {kStatic, -1, "Put a check beside all the fields that you want to include in the search.",
         7, 7, 223, 8, kLabel},
        {kButton, 1049, "Done", 152, 145, 28, 14, kPush},
    }};

const Dialog kSearchResultsDialog = {
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT,
    "Search Results",
    100,
    79,
    8,
    "MS Sans Serif",
    {
        {kButton, 1049, "Done", 6, 60, 41, 14, kDefault},
        {kListBox, 1052, "", 6, 15, 88, 40,
         LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
        {kButton, 1028, "Go To", 52, 60, 41, 14, kPush},
        {kStatic, -1, "Matching records:", 7, 4, 86, 10, SS_CENTER | WS_GROUP},
    }};

struct TemplateCase {
  int id;
  const Dialog* expected;
};

class TemplatesTest : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(TemplatesTest, MatchesTheLayout) {
  const Dialog& expected = *GetParam().expected;
  Dialog actual;
  std::string error;
  ASSERT_TRUE(readDialog(GetParam().id, &actual, &error)) << error;
  EXPECT_EQ(actual.style, expected.style) << std::hex << (actual.style ^ expected.style);
  EXPECT_EQ(actual.caption, expected.caption);
  EXPECT_EQ(actual.cx, expected.cx);
  EXPECT_EQ(actual.cy, expected.cy);
  EXPECT_EQ(actual.pointSize, expected.pointSize);
  EXPECT_EQ(actual.font, expected.font);
  ASSERT_EQ(actual.controls.size(), expected.controls.size());
  for (size_t i = 0; i < expected.controls.size(); ++i) {
    const Control& e = expected.controls[i];
    const Control& a = actual.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(e.id) + " " + e.text);
    EXPECT_EQ(a.kind, e.kind);
    EXPECT_EQ(a.id, e.id);
    EXPECT_EQ(a.text, e.text);
    EXPECT_EQ(a.x, e.x);
    EXPECT_EQ(a.y, e.y);
    EXPECT_EQ(a.cx, e.cx);
    EXPECT_EQ(a.cy, e.cy);
    EXPECT_EQ(a.style, e.style | WS_CHILD | WS_VISIBLE)
        << std::hex << (a.style ^ (e.style | WS_CHILD | WS_VISIBLE));
  }
}

INSTANTIATE_TEST_SUITE_P(Editor, TemplatesTest,
                         ::testing::Values(TemplateCase{IDD_EDITOR, &kEditorDialog},
                                           TemplateCase{IDD_SEEK, &kSeekDialog},
                                           TemplateCase{IDD_FIND_RECORD, &kFindRecordDialog},
                                           TemplateCase{IDD_SEARCH_RESULTS,
                                                        &kSearchResultsDialog}));

}  // namespace
}  // namespace qova

#include <functional>

#include "testing/win/editor_window_fixture.h"
#include "editor/win/find_record_dialog.h"
#include "editor/win/search_results_dialog.h"

namespace qova {
namespace {

class SearchDialogsTest : public EditorWindowTest {
 protected:
  // Opens a Find Record window with the editor window's button.
  HWND openFind() {
    HWND window = newSearchWindow([&] { click(IDC_FIND_RECORD); });
    EXPECT_NE(window, nullptr);
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Find Record");
    return window;
  }

  // Presses "Find" and returns the Search Results window it opened (null
  // when none opened).
  HWND find(HWND findWindow) {
    return newSearchWindow([&] { click(IDC_FIND, findWindow); });
  }

  // The one window that `action` added to searchWindows, or null.
  HWND newSearchWindow(const std::function<void()>& action) {
    std::set<HWND> before = app_->searchWindows;
    action();
    if (app_->searchWindows.size() != before.size() + 1) return nullptr;
    for (HWND window : app_->searchWindows) {
      if (before.count(window) == 0) return window;
    }
    return nullptr;
  }

  std::vector<std::string> results(HWND resultsWindow) {
    std::vector<std::string> entries;
    HWND list = item(IDC_RESULTS, resultsWindow);
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      char buffer[32] = {};
      SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer));
      entries.push_back(buffer);
    }
    return entries;
  }

  void select(HWND resultsWindow, const std::string& entry) {
    HWND list = item(IDC_RESULTS, resultsWindow);
    LRESULT index = SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(entry.c_str()));
    ASSERT_NE(index, LB_ERR) << entry;
    SendMessageA(list, LB_SETCURSEL, index, 0);
  }

  // Eleven records; 2, 9, 10 and 11 ask "X" with "same" as response 2 and
  // correct response 3, the others are numbered.
  void openElevenRecords() {
    std::vector<TestRecord> records = numberedRecords(11);
    for (int n : {2, 9, 10, 11}) records[n - 1] = {"X", {"a", "same", "c", "d"}, 3};
    records[8].responses[0] = "other";  // record 9 differs in response 1
    openDatabase("eleven.qdb", 4, records);
  }
};

TEST_F(SearchDialogsTest, FindRecordStartsEmptyWithTheFifthResponseDisabled) {
  HWND findWindow = openFind();
  EXPECT_TRUE(IsWindowVisible(findWindow));
  EXPECT_EQ(GetWindow(findWindow, GW_OWNER), window_);
  EXPECT_FALSE(enabled(IDC_RESPONSE5, findWindow));
  EXPECT_FALSE(enabled(IDC_CORRECT5, findWindow));
  EXPECT_TRUE(enabled(IDC_INCLUDE_RESPONSE5, findWindow));
  SearchCriteria criteria = readCriteria(findWindow);
  EXPECT_EQ(criteria.mask, 0u);
  EXPECT_EQ(criteria.responses.size(), 5u);
}

TEST_F(SearchDialogsTest, FindWithNoBoxCheckedOnlyComplains) {
  HWND findWindow = openFind();
  EXPECT_EQ(find(findWindow), nullptr);
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].text, "At least one search field must be checked.");
  EXPECT_EQ(scripted_.messages[0].caption, "Error");
  EXPECT_EQ(scripted_.messages[0].type, 0x30u);
  EXPECT_EQ(scripted_.messages[0].owner, findWindow);
  EXPECT_EQ(app_->searchWindows.size(), 1u);
}

TEST_F(SearchDialogsTest, EachBoxSetsItsOwnBit) {
  HWND findWindow = openFind();
  struct Case {
    int box;
    uint32_t bit;
  };
  const Case cases[] = {
      {IDC_INCLUDE_QUESTION, 0x01},  {IDC_INCLUDE_CORRECT, 0x02},   {IDC_INCLUDE_RESPONSE1, 0x04},
      {IDC_INCLUDE_RESPONSE2, 0x08}, {IDC_INCLUDE_RESPONSE3, 0x10}, {IDC_INCLUDE_RESPONSE4, 0x20},
      {IDC_INCLUDE_RESPONSE5, 0x40},
  };
  for (const Case& c : cases) {
    click(c.box, findWindow);
    EXPECT_EQ(readCriteria(findWindow).mask, c.bit) << c.box;
    click(c.box, findWindow);
  }
  type(IDC_RESPONSE3, "third", findWindow);
  click(IDC_INCLUDE_CORRECT, findWindow);
  SearchCriteria none = readCriteria(findWindow);
  EXPECT_EQ(none.correct, 0);  // no radio chosen
  EXPECT_EQ(none.responses[2], "third");
  click(IDC_CORRECT4, findWindow);
  EXPECT_EQ(readCriteria(findWindow).correct, 4);
}

TEST_F(SearchDialogsTest, FindWithSeveralBoxesListsTheRecordsMatchingAll) {
  openElevenRecords();
  HWND findWindow = openFind();
  type(IDC_QUESTION, "X", findWindow);
  type(IDC_RESPONSE1, "a", findWindow);
  type(IDC_RESPONSE2, "same", findWindow);
  click(IDC_CORRECT3, findWindow);
  for (int box :
       {IDC_INCLUDE_QUESTION, IDC_INCLUDE_RESPONSE1, IDC_INCLUDE_RESPONSE2, IDC_INCLUDE_CORRECT}) {
    click(box, findWindow);
  }
  HWND resultsWindow = find(findWindow);
  ASSERT_NE(resultsWindow, nullptr);
  EXPECT_EQ(GetWindow(resultsWindow, GW_OWNER), window_);
  EXPECT_EQ(results(resultsWindow), (std::vector<std::string>{"10", "11", "2"}));

  // Every press opens a further window; the Find Record window keeps its
  // contents. The question alone also finds record 9.
  click(IDC_INCLUDE_RESPONSE1, findWindow);
  HWND second = find(findWindow);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, resultsWindow);
  EXPECT_EQ(results(second), (std::vector<std::string>{"10", "11", "2", "9"}));
  EXPECT_EQ(app_->searchWindows.size(), 3u);

  // The search leaves the editor's record as it was.
  EXPECT_EQ(app_->store.currentIndex, 1);
  EXPECT_EQ(app_->store.current.question, "Q1");
}

TEST_F(SearchDialogsTest, NoMatchGivesAnEmptyListWithoutAMessage) {
  openElevenRecords();
  HWND findWindow = openFind();
  type(IDC_QUESTION, "x", findWindow);  // case counts
  click(IDC_INCLUDE_QUESTION, findWindow);
  HWND resultsWindow = find(findWindow);
  ASSERT_NE(resultsWindow, nullptr);
  EXPECT_TRUE(results(resultsWindow).empty());
  EXPECT_TRUE(scripted_.messages.empty());
}

TEST_F(SearchDialogsTest, GoToCommitsShowsTheRecordAndMinimisesEverySearchWindow) {
  openElevenRecords();
  type(IDC_QUESTION, "typed into record 1");
  HWND findWindow = openFind();
  type(IDC_QUESTION, "X", findWindow);
  click(IDC_INCLUDE_QUESTION, findWindow);
  HWND first = find(findWindow);
  HWND second = find(findWindow);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);

  // Nothing selected: nothing happens.
  click(IDC_GO_TO, second);
  pump();
  EXPECT_EQ(current(), "1");
  EXPECT_FALSE(IsIconic(second));

  select(second, "10");
  click(IDC_GO_TO, second);
  pump();
  EXPECT_EQ(current(), "10");
  EXPECT_EQ(text(IDC_QUESTION), "X");
  EXPECT_TRUE(checked(IDC_CORRECT3));
  EXPECT_EQ(app_->store.currentIndex, 10);
  ASSERT_EQ(app_->store.edits.count(1), 1u);
  EXPECT_EQ(app_->store.edits[1].question, "typed into record 1");
  for (HWND window : {findWindow, first, second}) EXPECT_TRUE(IsIconic(window)) << window;
  EXPECT_EQ(total(), "11");  // no second commit

  // Activating a minimised results window restores it; the Find Record
  // window stays minimised.
  SendMessageA(first, WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_FALSE(IsIconic(first));
  EXPECT_TRUE(IsIconic(findWindow));

  // Going back to the editor window leaves it active: the results window
  // does not take the activation back when it loses it.
  SetActiveWindow(first);
  pump();
  EXPECT_EQ(GetActiveWindow(), first);
  SetActiveWindow(window_);
  pump();
  EXPECT_EQ(GetActiveWindow(), window_);
  EXPECT_FALSE(IsIconic(first));
}

TEST_F(SearchDialogsTest, DoubleClickGoesToTheEntry) {
  openElevenRecords();
  HWND findWindow = openFind();
  type(IDC_QUESTION, "X", findWindow);
  click(IDC_INCLUDE_QUESTION, findWindow);
  HWND resultsWindow = find(findWindow);
  ASSERT_NE(resultsWindow, nullptr);
  select(resultsWindow, "9");
  SendMessageA(resultsWindow, WM_COMMAND, MAKEWPARAM(IDC_RESULTS, LBN_DBLCLK),
               reinterpret_cast<LPARAM>(item(IDC_RESULTS, resultsWindow)));
  pump();
  EXPECT_EQ(current(), "9");
  EXPECT_EQ(text(IDC_RESPONSE1), "other");
}

TEST_F(SearchDialogsTest, DoneAndCloseRemoveTheWindowsAndResultsOutliveTheirFindWindow) {
  HWND findWindow = openFind();
  click(IDC_INCLUDE_QUESTION, findWindow);
  HWND resultsWindow = find(findWindow);
  ASSERT_NE(resultsWindow, nullptr);
  click(IDC_DONE, findWindow);
  EXPECT_FALSE(IsWindow(findWindow));
  EXPECT_TRUE(IsWindow(resultsWindow));
  EXPECT_EQ(app_->searchWindows, std::set<HWND>{resultsWindow});
  SendMessageA(resultsWindow, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(resultsWindow));
  EXPECT_TRUE(app_->searchWindows.empty());
}

TEST_F(SearchDialogsTest, QuitDestroysTheSearchWindowsWithTheEditor) {
  HWND findWindow = openFind();
  click(IDC_INCLUDE_QUESTION, findWindow);
  HWND resultsWindow = find(findWindow);
  click(IDC_QUIT);
  EXPECT_EQ(pumpUntilQuit(), 0);
  EXPECT_FALSE(IsWindow(findWindow));
  EXPECT_FALSE(IsWindow(resultsWindow));
  EXPECT_TRUE(app_->searchWindows.empty());
}

}  // namespace
}  // namespace qova

#include "editor/win/main_window.h"

#include <string>

#include "common/win/dialogs.h"
#include "editor/file_dialogs.h"
#include "editor/import/question_import.h"
#include "editor/text_import.h"
#include "editor/win/editor_app.h"
#include "editor/win/find_record_dialog.h"
#include "editor/win/resource.h"
#include "editor/win/seek_dialog.h"

namespace qova {
namespace {

// The record number shown beside "Current Record:". Prev tests this counter,
// not the store. There is one editor window per process; its initialisation
// starts the counter at 1.
int32_t displayedRecord = 1;

const int kCorrectIds[] = {IDC_CORRECT1, IDC_CORRECT2, IDC_CORRECT3, IDC_CORRECT4, IDC_CORRECT5};
const int kResponseIds[] = {IDC_RESPONSE1, IDC_RESPONSE2, IDC_RESPONSE3, IDC_RESPONSE4,
                            IDC_RESPONSE5};

void showNumber(HWND window, int id, int32_t number) {
  SetDlgItemInt(window, id, static_cast<UINT>(number), TRUE);
}

void showDisplayedRecord(HWND window, int32_t number) {
  displayedRecord = number;
  showNumber(window, IDC_CURRENT_RECORD, displayedRecord);
}

void showTotal(HWND window, const EditorApp& app) {
  showNumber(window, IDC_TOTAL_RECORDS, app.store.totalRecords);
}

void showError(HWND window, const EditorApp& app, const char* text) {
  if (app.store.prompts.messageBox) {
    app.store.prompts.messageBox(MessageRequest{window, text, "Error", kMbIconExclamation});
  }
}

bool fiveResponsesChecked(HWND window) {
  return IsDlgButtonChecked(window, IDC_FIVE_RESPONSES) == BST_CHECKED;
}

void enableFifthResponse(HWND window, bool enable) {
  EnableWindow(GetDlgItem(window, IDC_CORRECT5), enable);
  EnableWindow(GetDlgItem(window, IDC_RESPONSE5), enable);
}

void initialise(HWND window, EditorApp& app) {
  app.store.clear();
  app.store.owner = window;
  app.correctButtons.clear();
  app.responseEdits.clear();
  for (int id : kCorrectIds) app.correctButtons.push_back(GetDlgItem(window, id));
  for (int id : kResponseIds) app.responseEdits.push_back(GetDlgItem(window, id));
  CheckDlgButton(window, IDC_FOUR_RESPONSES, BST_CHECKED);
  showDisplayedRecord(window, 1);
  showTotal(window, app);
  app.store.next();
  commitWindow(window);
}

void newDatabase(HWND window, EditorApp& app) {
  app.store.clear();
  showRecord(window, app.store.next());
  commitWindow(window);
  showDisplayedRecord(window, 1);
  showTotal(window, app);
  EnableWindow(app.responseEdits[4], FALSE);
  EnableWindow(app.correctButtons[4], FALSE);
  CheckRadioButton(window, IDC_FOUR_RESPONSES, IDC_FIVE_RESPONSES, IDC_FOUR_RESPONSES);
}

void openDatabase(HWND window, EditorApp& app) {
  // The shown record is not committed: opening drops it with every other
  // unsaved edit.
  int result = app.store.open();
  if (result == kStoreCancelled) return;
  if (result == kStoreCannotOpen) {
    showError(window, app, "Could not open file.");
    return;
  }
  // The radios are set before the record is shown, so that showRecord fills
  // response 5 of a five-response file.
  bool five = result >= 5;
  CheckRadioButton(window, IDC_FOUR_RESPONSES, IDC_FIVE_RESPONSES,
                   five ? IDC_FIVE_RESPONSES : IDC_FOUR_RESPONSES);
  enableFifthResponse(window, five);
  showRecord(window, app.store.next());
  showDisplayedRecord(window, 1);
  showTotal(window, app);
}

void saveDatabase(HWND window, EditorApp& app) {
  commitWindow(window);
  int result = app.store.save();
  if (result == kStoreCancelled) return;
  if (result == kStoreCannotReopen) {
    showError(window, app, "Error re-opening file.");
    return;
  }
  if (result == kStoreCannotOpen) {
    showError(window, app, "Could not save file.");
    return;
  }
  showRecord(window, app.store.next());
  showDisplayedRecord(window, 1);
  showTotal(window, app);
}

void appendDatabase(HWND window, EditorApp& app) {
  commitWindow(window);
  int total = app.store.appendFile();
  if (total == kStoreCancelled) return;
  showNumber(window, IDC_TOTAL_RECORDS, total);
  showDisplayedRecord(window, 1);
  showRecord(window, app.store.seek(1));
}

// Import...: the records of a question file are appended as Append Qdb
// appends a database's, and the window shows the first of them; a Notice
// tells how many were imported and which questions were skipped, and why.
// Nothing changes when no question could be read.
void importQuestions(HWND window, EditorApp& app) {
  const Prompts& prompts = app.store.prompts;
  std::string path;
  if (!prompts.openFile || !prompts.openFile(questionFileRequest(window), &path)) return;
  ImportedQuestions imported = importQuestionFile(path, app.store.responsesPerRecord);
  if (!imported.records.empty()) {
    commitWindow(window);
    int32_t first = app.store.importRecords(imported.records);
    if (first < 0) {
      imported.records.clear();
      imported.failure = "The database cannot hold so many records.";
    } else {
      showTotal(window, app);
      showDisplayedRecord(window, first);
      showRecord(window, app.store.seek(first));
    }
  }
  if (prompts.messageBox) {
    unsigned icon = imported.records.empty() ? kMbIconExclamation : kMbIconInformation;
    prompts.messageBox(MessageRequest{window, importReport(imported, path), "Notice", icon});
  }
}

void previousRecord(HWND window, EditorApp& app) {
  if (displayedRecord <= 1) return;
  commitWindow(window);
  showRecord(window, app.store.previous());
  showDisplayedRecord(window, displayedRecord - 1);
}

// Moving beyond the last record makes the empty record shown there part of
// the database at once.
void commitIfBeyondTotal(HWND window, const EditorApp& app) {
  if (displayedRecord > app.store.totalRecords) commitWindow(window);
}

void nextRecord(HWND window, EditorApp& app) {
  commitWindow(window);
  showRecord(window, app.store.next());
  showDisplayedRecord(window, displayedRecord + 1);
  commitIfBeyondTotal(window, app);
}

void seekRecord(HWND window, EditorApp& app) {
  int number = runSeekDialog(app.instance, window);
  if (number <= 0) return;
  commitWindow(window);
  showRecord(window, app.store.seek(number));
  showDisplayedRecord(window, number);
  commitIfBeyondTotal(window, app);
}

void goToRecord(HWND window, EditorApp& app, int32_t number) {
  // The store's callers keep its current index at 1 or more.
  if (number < 1) return;
  commitWindow(window);
  showRecord(window, app.store.seek(number));
  showDisplayedRecord(window, number);
}

void command(HWND window, EditorApp& app, int id) {
  switch (id) {
    case IDC_FOUR_RESPONSES:
      enableFifthResponse(window, false);
      app.store.responsesPerRecord = 4;
      break;
    case IDC_FIVE_RESPONSES:
      enableFifthResponse(window, true);
      app.store.responsesPerRecord = 5;
      break;
    case IDC_SAVE:
      saveDatabase(window, app);
      break;
    case IDC_NEW:
      newDatabase(window, app);
      break;
    case IDC_OPEN:
      openDatabase(window, app);
      break;
    case IDC_CONVERT_TXT:
      importTextFile(app.store.prompts, window);
      break;
    case IDC_QUIT:
      shutdownEditor(0);
      break;
    case IDC_APPEND_QDB:
      appendDatabase(window, app);
      break;
    case IDC_PREV:
      previousRecord(window, app);
      break;
    case IDC_NEXT:
      nextRecord(window, app);
      break;
    case IDC_SEEK:
      seekRecord(window, app);
      break;
    case IDC_FIND_RECORD: {
      HWND find = openFindRecordWindow(app.instance, window);
      if (find != nullptr) app.searchWindows.insert(find);
      break;
    }
    case IDC_IMPORT:
      importQuestions(window, app);
      break;
    case IDC_ERASE:
      app.store.setErased(IsDlgButtonChecked(window, IDC_ERASE) == BST_CHECKED);
      break;
    default:
      break;
  }
}

}  // namespace

bool createMainWindow() {
  EditorRef app;
  app->errorFlags = EditorApp::StartupLog | EditorApp::StartupMessageBox | EditorApp::StartupQuit;
  app->mainWindow =
      CreateDialogParamA(app->instance, MAKEINTRESOURCEA(IDD_EDITOR), nullptr, mainDialogProc, 0);
  if (app->mainWindow == nullptr) {
    app->errorText = "Error creating window.";
    return false;
  }
  return true;
}

void showRecord(HWND window, const QuestionRecord& record) {
  SetDlgItemTextA(window, IDC_QUESTION, record.question.c_str());
  for (size_t i = 0; i < 4; ++i) {
    const char* text = i < record.responses.size() ? record.responses[i].c_str() : "";
    SetDlgItemTextA(window, kResponseIds[i], text);
  }
  bool fifth = record.responses.size() >= 5 && fiveResponsesChecked(window);
  SetDlgItemTextA(window, IDC_RESPONSE5, fifth ? record.responses[4].c_str() : "");
  // Checking an id outside the range unchecks all five.
  int checked = record.correct >= 1 && record.correct <= 5 ? kCorrectIds[record.correct - 1] : 0;
  CheckRadioButton(window, IDC_CORRECT1, IDC_CORRECT5, checked);
  CheckDlgButton(window, IDC_ERASE, record.erased ? BST_CHECKED : BST_UNCHECKED);
}

void commitWindow(HWND window) {
  EditorRef app;
  QuestionRecord record;
  record.question = windowText(GetDlgItem(window, IDC_QUESTION));
  bool five = fiveResponsesChecked(window);
  for (size_t i = 0; i < (five ? 5u : 4u); ++i) {
    record.responses.push_back(windowText(GetDlgItem(window, kResponseIds[i])));
  }
  // Disabled radios count like the others: a fifth response marked correct
  // stays the correct one while "4" is chosen.
  for (size_t i = 0; i < 5; ++i) {
    if (IsDlgButtonChecked(window, kCorrectIds[i]) == BST_CHECKED) {
      record.correct = static_cast<int32_t>(i + 1);
      break;
    }
  }
  app->store.commit(record);
  showTotal(window, *app);
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  EditorRef app;
  switch (message) {
    case WM_INITDIALOG:
      initialise(window, *app);
      return TRUE;
    case WM_COMMAND:
      command(window, *app, LOWORD(wParam));
      return TRUE;
    case kGoToRecord:
      goToRecord(window, *app, static_cast<int32_t>(wParam));
      return TRUE;
    case WM_CLOSE:
      shutdownEditor(0);
      return TRUE;
    case WM_DESTROY:
      // The owned search windows are gone by now; nothing may use the
      // handles of this window any more.
      app->mainWindow = nullptr;
      app->store.owner = nullptr;
      app->correctButtons.clear();
      app->responseEdits.clear();
      PostQuitMessage(static_cast<int>(GetWindowLongPtrA(window, GWLP_USERDATA)));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace qova

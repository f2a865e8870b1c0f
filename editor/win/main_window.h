// The editor window "Question DB Maker" (template 101): pages through the
// records of the store, edits them, and starts the file operations and the
// search dialogs.
//
// The fields of the window are a scratch copy of the store's current record;
// they reach the store only through commitWindow, and records come back only
// through showRecord. The record number the window shows (displayedRecord) is
// the window's own counter, moved together with the store's current index by
// every command.
#pragma once

#include <windows.h>

#include "qdb/question_record.h"

namespace qova {

// Posted to the editor window by the Search Results window: wParam is the
// record number to show (from 1), lParam 0.
constexpr UINT kGoToRecord = WM_APP;

// Creates the editor window into EditorApp::mainWindow. On failure sets
// errorText to "Error creating window." and returns false. errorFlags is set
// to log, show and quit beforehand.
bool createMainWindow();

// Puts `record` into the window's fields; response 5 shows only while "5" is
// checked, and a correct response outside 1..5 checks no radio.
void showRecord(HWND window, const QuestionRecord& record);

// Takes the record from the window's fields (response 5 only while "5" is
// checked; correct = first checked radio, 0 for none) and commits it to the
// store's current record, then shows the total.
void commitWindow(HWND window);

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace qova

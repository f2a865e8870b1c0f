// Resource ids of QOVAHOST; shared by the resource script and the code.
#pragma once

// The lobby window ("Waiting for Clients...") and its controls.
#define IDD_LOBBY 101
#define IDC_LOBBY_START 1000
#define IDC_LOBBY_QUIT 1001
#define IDC_LOBBY_COUNT 1002
#define IDC_LOBBY_PLAYERS 1003  // the joined names, in joining order
#define IDC_LOBBY_REMOVE 1004   // "Remove Player"
#define IDC_LOBBY_ADDRESS 1010

// The Statistics window, the server's main window while a game runs.
#define IDD_STATISTICS 102
#define IDC_STATS_QUIT 1001
#define IDC_STATS_LIST 1006
#define IDC_STATS_SECOND 1007
#define IDC_STATS_FIRST 1009
#define IDC_STATS_HEADING 1011
#define IDC_STATS_FIRST_LABEL 1012
#define IDC_STATS_SECOND_LABEL 1013
#define IDC_STATS_BY_PLAYER 1014
#define IDC_STATS_BY_QUESTION 1015
#define IDC_STATS_ANSWERS 1016       // "Answers: 2 of 3" while a question is out
#define IDC_STATS_REMOVE 1017        // "Remove Player"
#define IDC_STATS_END_QUESTION 1018  // "End Question"
#define IDC_STATS_HOLD 1019          // "Hold", "Go On" while held
#define IDC_STATS_HOLD_AFTER_ROUND 1020  // check box "Hold after each round"

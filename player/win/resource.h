// Resource ids of QOVAPLAY; shared by the resource script, the program and
// its tests. Each view is a child dialog of the main window whose window id
// is its template id.
#pragma once

#define IDD_PLAYER 101
#define IDD_JOIN 102
#define IDD_WAITING 103
#define IDD_QUESTION 104
#define IDD_BOARD 105

#define IDC_JOIN_ADDRESS 1000
#define IDC_JOIN_NAME 1001
#define IDC_JOIN 1002
#define IDC_JOIN_MESSAGE 1003

#define IDC_WAIT_TEXT 1010

#define IDC_Q_HEADING 1020
#define IDC_Q_COUNTDOWN 1021
#define IDC_Q_TEXT 1022
#define IDC_Q_RESPONSE1 1023  // responses 1 to 5 are 1023 to 1027
#define IDC_Q_RESPONSE2 1024
#define IDC_Q_RESPONSE3 1025
#define IDC_Q_RESPONSE4 1026
#define IDC_Q_RESPONSE5 1027
#define IDC_Q_STATUS 1030

#define IDC_BOARD_HEADING 1040
#define IDC_BOARD_LIST 1041
#define IDC_BOARD_NOTE 1042

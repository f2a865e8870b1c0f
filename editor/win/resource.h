// Resource ids of QOVAMAKE, shared by the resource script and the code.
#pragma once

// Dialog templates.
#define IDD_EDITOR 101
#define IDD_SEEK 102
#define IDD_FIND_RECORD 104
#define IDD_SEARCH_RESULTS 105

// Editor window (the Find Record window reuses the record field ids).
#define IDC_FOUR_RESPONSES 1000
#define IDC_FIVE_RESPONSES 1002
#define IDC_QUESTION 1005
#define IDC_RESPONSE1 1007
#define IDC_RESPONSE2 1008
#define IDC_RESPONSE3 1009
#define IDC_RESPONSE4 1010
#define IDC_SAVE 1012
#define IDC_NEW 1013
#define IDC_OPEN 1014
#define IDC_CONVERT_TXT 1015
#define IDC_QUIT 1016
#define IDC_APPEND_QDB 1017
#define IDC_CORRECT1 1022
#define IDC_CORRECT2 1023
#define IDC_CORRECT3 1024
#define IDC_PREV 1025
#define IDC_CORRECT4 1026
#define IDC_NEXT 1027
#define IDC_SEEK 1028
#define IDC_RESPONSE5 1029
#define IDC_CORRECT5 1030
#define IDC_CURRENT_RECORD 1031
#define IDC_TOTAL_RECORDS 1032
#define IDC_FIND_RECORD 1033
#define IDC_ERASE 1054
#define IDC_IMPORT 1055

// Seek dialog.
#define IDC_SEEK_NUMBER 1034
#define IDC_SEEK_GO 1035
#define IDC_SEEK_CANCEL 1036

// Find Record window: "Find" is 1033, the include boxes follow.
#define IDC_FIND 1033
#define IDC_INCLUDE_QUESTION 1042
#define IDC_INCLUDE_RESPONSE2 1043
#define IDC_INCLUDE_RESPONSE3 1044
#define IDC_INCLUDE_RESPONSE4 1045
#define IDC_INCLUDE_RESPONSE5 1046
#define IDC_INCLUDE_RESPONSE1 1047
#define IDC_INCLUDE_CORRECT 1048

// Find Record and Search Results windows.
#define IDC_DONE 1049

// Search Results window: the list of record numbers; "Go To" is 1028.
#define IDC_RESULTS 1052
#define IDC_GO_TO 1028

// Resource ids of QOVASTART; shared by the resource script and the code.
#pragma once

#define IDD_LAUNCHER 101

#define IDC_BEGIN 1000
#define IDC_TIME_LIMIT 1002
#define IDC_BROWSE 1004
#define IDC_CREATE_MODIFY 1005
#define IDC_DATABASE_FILE 1006
#define IDC_QUESTIONS_PER_ROUND 1007
#define IDC_QUIT 1008
#define IDC_OPEN_RESULTS 1009

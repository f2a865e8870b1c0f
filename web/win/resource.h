// Resource ids of QOVAWEB; shared by the resource script, the program and
// its tests.
#pragma once

#define IDD_WEB 101

#define IDC_WEB_SERVER 1000  // the quiz server's address (edit)
#define IDC_WEB_PORT 1001    // the players' port (edit)
#define IDC_WEB_START 1002   // Start, or Stop while the gateway runs
#define IDC_WEB_STATUS 1003  // what the gateway is doing
#define IDC_WEB_LINKS 1004   // the join links, one a line (read-only edit)
#define IDC_WEB_COUNT 1005   // how many web players are seated
#define IDC_WEB_SEATS 1006   // their names (list box)
#define IDC_WEB_QUIT 1007
#define IDC_WEB_SCREEN 1008  // Open Room Screen: the /screen page in the default browser
#define IDC_WEB_HOST 1009    // Open Host Controls: the /host page, with its key, in the default browser

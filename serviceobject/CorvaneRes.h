// Resource ids of the Service Object's own resources (Corvane.rc).
#pragma once

// The interactive health check's dialog and its controls.
#define IDD_CHKPTR 1007
#define IDC_CHKPTR_PRINT 1000
#define IDC_CHKPTR_RESULT 1001
#define IDC_CHKPTR_COVER_OPEN 1002
#define IDC_CHKPTR_PAPER_EMPTY 1003
#define IDC_CHKPTR_NEAR_END 1004
#define IDC_CHKPTR_POWER_STATE 1006
#define IDC_CHKPTR_DEVICE_INFO 1007

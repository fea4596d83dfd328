// Resource ids of the tests' own dialog template.
#pragma once

#define IDD_FRAMEWORK_TEST 900
#define IDC_T_TEXT 901
#define IDC_T_NUMBER 902
#define IDC_T_CHECK 903
#define IDC_T_RADIO1 904
#define IDC_T_RADIO2 905
#define IDC_T_RADIO3 906
#define IDC_T_COMBO 907
#define IDC_T_OWNERDRAW 908
#define IDC_T_LIST 909
#define IDC_T_THROW 910
#define IDC_T_AFTER 911

// Identifiers of the module's resources: the dialogs and their controls, the menus and
// their commands, the icon and the replay panel's pictures. Plain preprocessor text: the
// resource script (Logger.rc) and the C++ code both include it. IDOK and IDCANCEL come
// from the platform's headers; an unnamed static is IDC_STATIC (-1).
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Dialogs
#define IDD_PROCESSING                  101
#define IDD_NEW_LOGGER                  5001
#define IDD_REPLAY_PANEL                5002
#define IDD_LOGGER_PANEL                5004
#define IDD_SELECT_COLUMNS              5022
#define IDD_CONVERT_PROGRESS            5023
#define IDD_LOGGER_SETTINGS             5026
#define IDD_BLANK_PANEL                 5030

// The cycling progress dialog (101)
#define IDC_PROCESSING_BAR              1203

// The new-logger dialog (5001)
#define IDC_NEW_LOG_NAME                5000
#define IDC_OVERWRITE_LOG               5006

// The replay panel (5002)
#define IDC_REPLAY_FILE_NAME            5008
#define IDC_REPLAY_LOAD_LOG             5014
#define IDC_REPLAY_PLAY                 5040
#define IDC_REPLAY_PAUSE                5042
#define IDC_REPLAY_STOP                 5011
#define IDC_REPLAY_STEP                 5044
#define IDC_REPLAY_LOOPED               5015
#define IDC_REPLAY_DELAY_MODE           5061
#define IDC_REPLAY_CONTINUOUS_MODE      5062
#define IDC_REPLAY_DURATION_LABEL       5063
#define IDC_REPLAY_DELAY                5010
#define IDC_REPLAY_MSEC_LABEL           5064
#define IDC_REPLAY_RATE                 5019
#define IDC_REPLAY_RATE_LABEL           5065
#define IDC_REPLAY_MESSAGE_NUMBER       5032
#define IDC_REPLAY_FILE_POSITION        5035
#define IDC_REPLAY_IMPORT_LOG           5016

// The logger panel (5004)
#define IDC_LOGGER_LIST                 5017
#define IDC_LOGGER_RECORD               5020
#define IDC_LOGGER_CLEAR_LOG            5003
#define IDC_LOGGER_REGISTER             5005
#define IDC_LOGGER_PATH                 5024
#define IDC_LOGGER_SIZE                 5025
#define IDC_LOGGER_CLOSE_LOG            5027
#define IDC_LOGGER_ADD_LOG              5029
#define IDC_LOGGER_USE_ERROR_COUNTER    5050
#define IDC_LOGGER_ERRORS_LABEL         5052
#define IDC_LOGGER_ERROR_COUNT          5051
#define IDC_LOGGER_SET_FILTER           5056
#define IDC_LOGGER_SETTINGS             5059
#define IDC_LOGGER_CONVERT              5060

// The column selection (5022). 5062 and 5063 are also the replay panel's
// IDC_REPLAY_CONTINUOUS_MODE and IDC_REPLAY_DURATION_LABEL.
#define IDC_COLUMNS_SORT_ORDER          5066
#define IDC_COLUMNS_TREE                5045
#define IDC_COLUMNS_CHECK_ALL           5046
#define IDC_COLUMNS_UNCHECK_ALL         5047
#define IDC_COLUMNS_FROM_INDEX          5062
#define IDC_COLUMNS_TO_INDEX            5063

// The conversion progress window (5023)
#define IDC_CONVERT_TEXT                5048
#define IDC_CONVERT_BAR                 5049

// The logger settings (5026)
#define IDC_SETTINGS_DEFAULT_ON_STARTUP 5053
#define IDC_SETTINGS_DEFAULT_NAME_LABEL 5055
#define IDC_SETTINGS_DEFAULT_NAME       5054

// Menus and their commands
#define IDR_LOGGER_MENU                 5028
#define IDR_CONVERT_MENU                5033
#define ID_LOGGER_ADD_NEW               32771
#define ID_LOGGER_CONTROL               32772
#define ID_LOGGER_REPLAY                32773
#define ID_LOGGER_CONVERT_HTML          32774
#define ID_LOGGER_SETTINGS              32775
#define ID_LOGGER_CONVERT_GKI           32776
#define ID_CONVERT_DATA_FORMAT          32780
#define ID_CONVERT_TO_HTML              62776
#define ID_CONVERT_TO_TEXT              62777
#define ID_CONVERT_TO_GKI               62778
#define ID_CONVERT_TO_CSV               62779

// The icon, and the pictures of the replay panel's buttons (enabled, disabled)
#define IDI_LOGGER                      5031
#define IDB_PLAY                        11060
#define IDB_PLAY_DISABLED               11063
#define IDB_PAUSE                       11064
#define IDB_PAUSE_DISABLED              11065
#define IDB_STOP                        11066
#define IDB_STOP_DISABLED               11067
#define IDB_STEP                        11068
#define IDB_STEP_DISABLED               11069

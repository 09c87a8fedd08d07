#pragma once

// Dialog templates, control ids and command ids of Tagwright's windows.

#include "labels/ROI.h"

// Templates
constexpr int IDD_TAGWRIGHT_DIALOG = 102;
constexpr int IDD_DLG_HELP = 134;
constexpr int IDD_DLG_MORELABEL = 136;
constexpr int IDD_DLG_REPORT = 140;
constexpr int IDR_MAINFRAME = 128;  // application icon

// Standard dialog results / buttons
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Main window (template 102)
constexpr int IDC_BTN_OPEN = 1000;
constexpr int IDC_BTN_CROP = 1001;
constexpr int IDC_GROUP_FILE = 1002;
constexpr int IDC_BTN_PLAY = 1003;
constexpr int IDC_BTN_SLOWER = 1004;  // "▼"
constexpr int IDC_GROUP_LABEL = 1005;
constexpr int IDC_BTN_FASTER = 1006;  // "▲"
constexpr int IDC_PICTURE = 1007;
constexpr int IDC_BTN_SPEED = 1008;
constexpr int IDC_SLIDER = 1020;
constexpr int IDC_STATIC_FRAME = 1021;
constexpr int IDC_RADIO_CLASS0 = 1032;
constexpr int IDC_RADIO_CLASS1 = 1033;
constexpr int IDC_RADIO_CLASS2 = 1034;
constexpr int IDC_BTN_HELP = 1039;
constexpr int IDC_BTN_MORE = 1040;
constexpr int IDC_BTN_REPORT = 1041;
constexpr int IDC_BTN_SKIP = 1046;
constexpr int IDC_EDIT_PATH = 1096;

// Label buttons and GO buttons of the main palette, index = label number - 1 (labels 1..12).
constexpr int kMainLabelButtonIds[12] = {1010, 1011, 1012, 1013, 1014, 1015,
                                         1016, 1017, 1018, 1019, 1042, 1044};
constexpr int kMainGoButtonIds[12] = {1022, 1023, 1024, 1025, 1026, 1027,
                                      1028, 1029, 1030, 1031, 1043, 1045};

// Help dialog (template 134)
constexpr int IDC_EDIT_HELP = 1038;

// More Label dialog (template 136), index = label number - 1 (labels kFirstLabel..kSkipLabel).
// The ids do not follow the label numbers.
constexpr int kMoreLabelButtonIds[kLabelCount] = {
    1041, 1043, 1045, 1047, 1049, 1051, 1053, 1055, 1057, 1059, 1062, 1066, 1070, 1074, 1078,
    1082, 1042, 1044, 1046, 1048, 1050, 1052, 1054, 1056, 1058, 1060, 1064, 1068, 1072, 1076};
constexpr int kMoreGoButtonIds[kLabelCount] = {
    1086, 1087, 1088, 1089, 1090, 1032, 1034, 1036, 1038, 1040, 1063, 1067, 1071, 1075, 1079,
    1083, 1091, 1092, 1093, 1094, 1095, 1033, 1035, 1037, 1039, 1061, 1065, 1069, 1073, 1077};

// Report dialog (template 140)
constexpr int IDC_EDIT_COMMENT = 1097;
constexpr int IDC_STATIC_SAVE = 1098;
constexpr int IDC_STATIC_COMMENT = 1099;

// Window commands accepted by the main window
constexpr int ID_OPEN_VIDEO = 20001;
constexpr int ID_COMMAND_20002 = 20002;
constexpr int ID_COMMAND_20003 = 20003;
constexpr int ID_DELETE_LABEL_AFTER = 20004;
constexpr int ID_COMMAND_20005 = 20005;

// Playback timer
constexpr int PLAY_TIMER_ID = 1234;
// Polls the frame index while it is being built (progress, verifying the frame shown)
constexpr int INDEX_TIMER_ID = 1235;

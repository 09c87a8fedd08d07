#include "res/Templates.h"

#include <iterator>

#include "res/Resource.h"

namespace {

using K = ControlKind;

// clang-format off
const ControlTemplate kMainControls[] = {
    // id, kind, caption, x, y, cx, cy, style, moveX, moveY, sizeX, sizeY
    {IDC_PICTURE, K::Picture, "", 7, 7, 698, 401, STYLE_NONE, 0, 0, 100, 100},
    {IDC_SLIDER, K::Slider, "", 9, 412, 655, 11, STYLE_NONE, 0, 100, 100, 0},
    {IDC_STATIC_FRAME, K::StaticText, "--", 667, 410, 36, 15, STYLE_NONE, 100, 100, 0, 0},
    {IDC_EDIT_PATH, K::Edit, "", 10, 427, 598, 16, STYLE_READONLY | STYLE_AUTOHSCROLL, 0, 100, 0, 0},
    {IDC_GROUP_LABEL, K::GroupBox, "", 713, 4, 82, 298, STYLE_NONE, 100, 0, 0, 0},
    {1010, K::ColorButton, "Label 01", 713, 8, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1022, K::ColorButton, "GO", 771, 8, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1011, K::ColorButton, "Label 02", 713, 26, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1023, K::ColorButton, "GO", 771, 26, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1012, K::ColorButton, "Label 03", 713, 43, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1024, K::ColorButton, "GO", 771, 43, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1013, K::ColorButton, "Label 04", 713, 61, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1025, K::ColorButton, "GO", 771, 61, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1014, K::ColorButton, "Label 05", 713, 78, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1026, K::ColorButton, "GO", 771, 78, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1015, K::ColorButton, "Label 06", 713, 96, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1027, K::ColorButton, "GO", 771, 96, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1016, K::ColorButton, "Label 07", 713, 114, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1028, K::ColorButton, "GO", 771, 114, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1017, K::ColorButton, "Label 08", 713, 131, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1029, K::ColorButton, "GO", 771, 131, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1018, K::ColorButton, "Label 09", 713, 149, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1030, K::ColorButton, "GO", 771, 149, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1019, K::ColorButton, "Label 10", 713, 166, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1031, K::ColorButton, "GO", 771, 166, 25, 19, STYLE_DISABLED, 100, 0, 0, 0},
    {1042, K::ColorButton, "Label 11", 713, 184, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1043, K::ColorButton, "GO", 771, 184, 25, 18, STYLE_DISABLED, 100, 0, 0, 0},
    {1044, K::ColorButton, "Label 12", 713, 202, 57, 19, STYLE_NONE, 100, 0, 0, 0},
    {1045, K::ColorButton, "GO", 771, 202, 25, 19, STYLE_DISABLED, 100, 0, 0, 0},
    {IDC_BTN_SKIP, K::ColorButton, "S&KIP (30)", 713, 225, 43, 21, STYLE_NONE, 100, 0, 0, 0},
    {IDC_BTN_MORE, K::PushButton, "&More", 759, 225, 36, 21, STYLE_NONE, 100, 0, 0, 0},
    {IDC_RADIO_CLASS0, K::RadioButton, "0 : Polyp", 726, 250, 58, 18, STYLE_GROUP, 100, 0, 0, 0},
    {IDC_RADIO_CLASS1, K::RadioButton, "1 : Skip", 726, 267, 58, 15, STYLE_NONE, 100, 0, 0, 0},
    {IDC_RADIO_CLASS2, K::RadioButton, "2 : Removed", 726, 282, 58, 15, STYLE_NONE, 100, 0, 0, 0},
    {IDC_GROUP_FILE, K::GroupBox, "", 713, 302, 82, 138, STYLE_GROUP, 100, 0, 0, 0},
    {IDC_BTN_OPEN, K::PushButton, "&OPEN", 721, 310, 70, 21, STYLE_FLAT | STYLE_GROUP, 100, 0, 0, 0},
    {IDC_BTN_CROP, K::PushButton, "&CROP", 721, 331, 70, 19, STYLE_NONE, 100, 0, 0, 0},
    {IDC_BTN_PLAY, K::PushButton, "&PLAY", 721, 350, 70, 20, STYLE_FLAT | STYLE_DISABLED, 100, 0, 0, 0},
    {IDC_BTN_SLOWER, K::PushButton, "\u25BC", 721, 372, 20, 20, STYLE_FLAT, 100, 0, 0, 0},
    {IDC_BTN_SPEED, K::PushButton, "Speed", 743, 372, 26, 20, STYLE_FLAT, 100, 0, 0, 0},
    {IDC_BTN_FASTER, K::PushButton, "\u25B2", 771, 372, 20, 20, STYLE_FLAT, 100, 0, 0, 0},
    {IDC_BTN_REPORT, K::PushButton, "Report", 721, 394, 48, 17, STYLE_NONE, 100, 0, 0, 0},
    {IDC_BTN_HELP, K::PushButton, "?", 771, 394, 20, 17, STYLE_NONE, 100, 0, 0, 0},
    {IDOK, K::DefaultPushButton, "EXIT", 721, 416, 70, 21, STYLE_NONE, 100, 0, 0, 0},
};

const ControlTemplate kHelpControls[] = {
    {IDOK, K::DefaultPushButton, "OK", 426, 294, 50, 14, STYLE_NONE, 0, 0, 0, 0},
    {IDC_EDIT_HELP, K::MultiLineEdit, "", 7, 7, 469, 286, STYLE_READONLY | STYLE_AUTOHSCROLL, 0, 0, 0, 0},
};

const ControlTemplate kMoreLabelControls[] = {
    {1041, K::ColorButton, "Label 01", 7, 7, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1086, K::ColorButton, "GO", 45, 7, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1043, K::ColorButton, "Label 02", 7, 24, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1087, K::ColorButton, "GO", 45, 24, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1045, K::ColorButton, "Label 03", 7, 40, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1088, K::ColorButton, "GO", 45, 40, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1047, K::ColorButton, "Label 04", 7, 56, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1089, K::ColorButton, "GO", 45, 56, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1049, K::ColorButton, "Label 05", 7, 72, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1090, K::ColorButton, "GO", 45, 72, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1051, K::ColorButton, "Label 06", 7, 88, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1032, K::ColorButton, "GO", 45, 88, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1053, K::ColorButton, "Label 07", 7, 104, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1034, K::ColorButton, "GO", 45, 104, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1055, K::ColorButton, "Label 08", 7, 120, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1036, K::ColorButton, "GO", 45, 120, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1057, K::ColorButton, "Label 09", 7, 136, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1038, K::ColorButton, "GO", 45, 136, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1059, K::ColorButton, "Label 10", 7, 152, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1040, K::ColorButton, "GO", 45, 152, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1062, K::ColorButton, "Label 11", 7, 168, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1063, K::ColorButton, "GO", 45, 168, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1066, K::ColorButton, "Label 12", 7, 184, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1067, K::ColorButton, "GO", 45, 184, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1070, K::ColorButton, "Label 13", 7, 200, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1071, K::ColorButton, "GO", 45, 200, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1074, K::ColorButton, "Label 14", 7, 216, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1075, K::ColorButton, "GO", 45, 216, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1078, K::ColorButton, "Label 15", 7, 232, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1079, K::ColorButton, "GO", 45, 232, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1082, K::ColorButton, "Label 16", 75, 7, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1083, K::ColorButton, "GO", 113, 7, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1042, K::ColorButton, "Label 17", 74, 24, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1091, K::ColorButton, "GO", 112, 24, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1044, K::ColorButton, "Label 18", 74, 40, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1092, K::ColorButton, "GO", 112, 40, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1046, K::ColorButton, "Label 19", 74, 56, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1093, K::ColorButton, "GO", 112, 56, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1048, K::ColorButton, "Label 20", 74, 72, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1094, K::ColorButton, "GO", 112, 72, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1050, K::ColorButton, "Label 21", 74, 88, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1095, K::ColorButton, "GO", 112, 88, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1052, K::ColorButton, "Label 22", 74, 104, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1033, K::ColorButton, "GO", 112, 104, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1054, K::ColorButton, "Label 23", 74, 120, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1035, K::ColorButton, "GO", 112, 120, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1056, K::ColorButton, "Label 24", 74, 136, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1037, K::ColorButton, "GO", 112, 136, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1058, K::ColorButton, "Label 25", 74, 152, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1039, K::ColorButton, "GO", 112, 152, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1060, K::ColorButton, "Label 26", 74, 168, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1061, K::ColorButton, "GO", 112, 168, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1064, K::ColorButton, "Label 27", 74, 184, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1065, K::ColorButton, "GO", 112, 184, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1068, K::ColorButton, "Label 28", 74, 200, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1069, K::ColorButton, "GO", 112, 200, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1072, K::ColorButton, "Label 29", 74, 216, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1073, K::ColorButton, "GO", 112, 216, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
    {1076, K::ColorButton, "SKIP (30)", 74, 232, 38, 16, STYLE_NONE, 0, 0, 0, 0},
    {1077, K::ColorButton, "GO", 112, 232, 25, 16, STYLE_DISABLED, 0, 0, 0, 0},
};

const ControlTemplate kReportControls[] = {
    {IDC_STATIC_COMMENT, K::StaticText, "Comment :", 7, 9, 36, 8, STYLE_NONE, 0, 0, 0, 0},
    {IDC_EDIT_COMMENT, K::Edit, "", 7, 22, 285, 60, STYLE_AUTOHSCROLL, 0, 0, 0, 0},
    {IDC_STATIC_SAVE, K::StaticText, "Save report ?", 150, 89, 44, 8, STYLE_NONE, 0, 0, 0, 0},
    {IDOK, K::DefaultPushButton, "OK", 198, 87, 50, 14, STYLE_NONE, 0, 0, 0, 0},
    {IDCANCEL, K::PushButton, "Cancel", 252, 87, 50, 14, STYLE_NONE, 0, 0, 0, 0},
};

const DialogTemplate kTemplates[] = {
    {IDD_TAGWRIGHT_DIALOG, "KORVALEN Video Tagwright", "Tahoma", 9, 801, 446, DLG_RESIZABLE,
     1024, 760, kMainControls, std::size(kMainControls)},
    {IDD_DLG_HELP, "Dialog", "MS Shell Dlg", 8, 483, 315, DLG_SYSMENU | DLG_MODALFRAME, 0, 0,
     kHelpControls, std::size(kHelpControls)},
    {IDD_DLG_MORELABEL, "More Label", "Tahoma", 10, 145, 256, DLG_SYSMENU, 0, 0,
     kMoreLabelControls, std::size(kMoreLabelControls)},
    {IDD_DLG_REPORT, "Report", "MS Shell Dlg", 8, 309, 108, DLG_SYSMENU | DLG_MODALFRAME, 0, 0,
     kReportControls, std::size(kReportControls)},
};
// clang-format on

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& t : kTemplates) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

const std::string& HelpText() {
    // Lines 1, 2, 5, 6, 9 and 15 end in a blank; 7, 8 and 14 are empty; no final line break.
    static const std::string text =
        "- 재생 관련 - \r\n"
        "SpaceBar : 동영상 재생. Toggle \r\n"
        "Left key : 동영상 이전 프레임 이동\r\n"
        "Right key : 동영상 다음 프레임 이동\r\n"
        "'n'/'N' : (N)ext labeled frame. Label이 포함된 다음 Frame을 검색해서 이동. \r\n"
        "'b'/'B' : (B)ackward to Prev labeled frame. Label이 포함된 이전 Frame을 검색해서 이동. "
        "\r\n"
        "\r\n"
        "\r\n"
        "- 편집 관련 - \r\n"
        "'c', 'C' : (C)opy & paste Labels. 현재 frame의 roi 항목을 모두 다음 frame으로 복사.\r\n"
        "'d', 'D', 'Delete' : (D)elete selected Roi. 선택된 ROI 항목 삭제\r\n"
        "'e', 'E': 현재 프레임의 모든 ROI항목 삭제\r\n"
        "'i', 'I' : (I)n-between fill. 현재 frame의 ROI와 같은 Label의 이전 ROI 사이 "
        "frame을 모두 채움\r\n"
        "\r\n"
        "- etc - \r\n"
        "'t', 'T': (T)racking ROI\r\n"
        "'l', 'L' : Next (L)abel 활성화\r\n"
        "'k', 'K': Skip label 지정'm', 'M': More dialog 오픈esc : 프로그램 종료";
    return text;
}

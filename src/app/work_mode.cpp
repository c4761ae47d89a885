#include "app/work_mode.h"

namespace corvalin {

WorkLayout workLayoutFor(bool check3, bool check4, const OptionValue& stripIntoSubfolder) {
    WorkLayout layout;
    layout.strip = check3 || check4;
    if (!layout.strip) {
        layout.command3Visible = false;
        layout.command4Visible = false;
        layout.label2Caption = "移動先フォルダ指定";
        layout.label9Caption = "移動中ファイル数";
        return layout;
    }
    const bool subfolder = stripIntoSubfolder.isOn();
    layout.command1Visible = false;
    layout.sourcePaneEnabled = false;
    layout.label2Caption = "通し番号を切り取るフォルダを指定";
    layout.label9Caption = "リネーム中ファイル数";
    layout.indicatorRed = false;
    layout.file2Visible = !subfolder;
    layout.file3Visible = subfolder;
    return layout;
}

} // namespace corvalin

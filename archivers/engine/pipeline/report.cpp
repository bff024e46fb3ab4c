#include "engine/pipeline/report.h"

#include "common/archiver_contract.h"

namespace dexalo::archivers {

std::wstring DisplayName(const std::wstring& archivePath) {
    const std::size_t slash = archivePath.find_last_of(L"/\\");
    return slash == std::wstring::npos ? archivePath : archivePath.substr(slash + 1);
}

std::wstring ReportText(const std::wstring& archivePath, const ExtractResult& result) {
    std::wstring text = L"「" + DisplayName(archivePath) + (result.join ? L"」を結合できませんでした。\n" : L"」を解凍できませんでした。\n");
    switch (result.code) {
    case kErrorCannotOpen:
        if (result.join) return text + L"\n分割されたファイルの一部ではないか、読めないファイルがあります。";
        return text + L"\n書庫を開けません。ファイルが見つからないか読めないか、この形式の書庫ではありません。";
    case kErrorCommandLine:
        return text + L"\nコマンドラインを解釈できません。";
    default: break;
    }
    // What a missing piece cut short is not damaged: the piece alone is named.
    if (!result.missingPiece.empty()) {
        text += (result.join ? L"\n分割されたファイルの一部が見つかりません: " : L"\n分割された書庫の一部が見つかりません: ") +
                result.missingPiece;
        if (!result.join) text += L"\nこれより後のファイルは解凍していません。";
    } else if (result.code == kErrorCorrupt) {
        if (result.corruptEntry.empty())
            text += L"\n書庫が壊れています。";
        else if (result.corruptEncrypted)
            text += L"\nデータが壊れているか、パスワードが違います: " + result.corruptEntry;
        else
            text += L"\nデータが壊れています: " + result.corruptEntry;
        text += L"\nこれより後のファイルは解凍していません。";
    }
    if (!result.unsupportedEntry.empty())
        text += (result.unsupportedEncryption ? L"\n対応していない暗号化方式です: " : L"\n対応していない圧縮方式です: ") +
                result.unsupportedEntry;
    if (result.declined > 0)
        text += L"\nパスワードが入力されなかったため、暗号化された " + std::to_wstring(result.declined) +
                L" 個のファイルを解凍しませんでした (例: " + result.declinedExample + L")。";
    if (!result.unwritable.empty()) {
        text += L"\n書き込めませんでした: " + result.unwritable;
        if (!result.systemReason.empty()) text += L"\n理由: " + result.systemReason;
    }
    if (result.refused > 0) {
        // A name that could not be decoded comes out empty, or as a folder's lone separator.
        const bool unreadable = result.refusedExample.find_first_not_of(L"\\/") == std::wstring::npos;
        text += L"\n安全でないパスの " + std::to_wstring(result.refused) + L" 個のファイルを解凍しませんでした (例: " +
                (unreadable ? L"名前を読み取れないファイル" : result.refusedExample) + L")。";
    }
    return text;
}

std::wstring PassphrasePrompt(const std::wstring& archivePath, bool wrong) {
    const std::wstring name = L"「" + DisplayName(archivePath) + L"」";
    if (wrong) return L"パスワードが違います。" + name + L"のパスワードをもう一度入力してください。";
    return name + L"は暗号化されています。パスワードを入力してください。";
}

} // namespace dexalo::archivers

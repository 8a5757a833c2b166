// Numbered errors of the archive components.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace varnok {

// Error codes of the archive components. The texts live in one table (errors.cpp).
enum ErrorCode : int {
    E_64BitHeader = 25101,
    E_32BitHeader = 25102,
    E_FileReadOnly = 25104,
    E_FileHidden = 25105,
    E_FileSysFile = 25106,
    E_FileDirectory = 25107,
    E_FileVolumeId = 25108,
    E_InvalidFileAttribute = 25109,
    E_BadFileHeader = 25110,
    E_BadBlock = 25111,
    E_BadHuffmanCode = 25120,
    E_InvalidCode = 25121,
    E_InvalidCommentHeader = 25122,
    E_NoBeginLine = 25123,
    E_IncorrectBits = 25134,
    E_BrokenMultiVolume = 25135,
    E_WriteFile = 25136,
    E_CloseFile = 25137,
    E_IncompleteCodeSet = 25138,
    E_CorruptInput = 25139,
    E_CreateDir = 25150,
    E_CrcCheck = 25151,
    E_InvalidDecodeTree = 25152,
    E_SpanLabel = 25153,
    E_NoLabelOrSerial = 25154,
    E_NotEnoughSpace = 25155,
    E_UnableCreateDir = 25156,
    E_InvalidDir = 25157,
    E_InvalidDirDefault = 25158,
    E_DiskFull = 25159,
    E_NotAccessible = 25160,
    E_EofNotFound = 25161,
    E_UnexpectedEof = 25166,
    E_UnexpectedEol = 25167,
    E_EolNotFound = 25168,
    E_DeleteFiles = 25169,
    E_CommandExec = 25170,
    E_SameInOut = 25171,
    E_FileNotFound = 25172,
    E_FileSizeDifferent = 25173,
    E_FileSizeExceedsOs = 25174,
    E_UnknownFlags = 25230,
    E_OpenFile = 25235,
    E_ReadFile = 25236,
    E_HeaderCrc = 25237,
    E_HeaderId = 25238,
    E_UnexpectedLineBreak = 25239,
    E_LineBeforeBegin = 25240,
    E_SkippedIllegalChar = 25241,
    E_InvalidArcType = 25242,
    E_InvalidFileName = 25243,
    E_SendBitsLength = 25245,
    E_GenCodes = 25246,
    E_BadLengths = 25247,
    E_InconsistentLocal = 25248,
    E_InsufficientLookahead = 25249,
    E_MaxVolumes = 25250,
    E_OutOfMemory = 25253,
    E_UninitMemoryStream = 25255,
    E_MaxFileSize = 25256,
    E_UninitFileStream = 25258,
    E_HeaderNotFound = 25259,
    E_UnrarNotFound = 25260,
    E_CabinetNotFound = 25261,
    E_AceNotFound = 25262,
    E_MultiPartGzip = 25264,
    E_TooManyNestedDirs = 25265,
    E_NothingToDecode = 25266,
    E_EventNotAssigned = 25270,
    E_OpenQuote = 25280,
    E_OpenParen = 25281,
    E_PasswordProtected = 25290,
    E_SeekError = 25292,
    E_AmbiguousTree = 25293,
    E_StackOverflow = 25298,
    E_StreamReadWrite = 25299,
    E_StreamingUnsupported = 25324,
    E_NoHighPerfTimer = 25325,
    E_UnsupportedMethod = 25326,
    E_UnknownFileType = 25327,
    E_UnsupportedVersion = 25328,
    E_UpdateArchive = 25350,
    E_VersionError = 25402,
    E_UserCanceled = 25449,
    E_RequiresWin32 = 25450,
    E_CabFirstDisk = 25901,
    E_CabPrevVolume = 25902,
    E_CabNextVolume = 25903,
    E_CabWrongSet = 25904,
    E_InsertFirstDisk = 25905,
    E_InsertLastDisk = 25906,
    E_InvalidPassword = 26517,
    E_PasswordFailed = 26522,
    E_SkippedFile = 26800,
    E_NothingToDo = 26859,
    E_DirNotExistCreate = 26899,
};

// The message text of a code; "Error <code>" for a code not in the table.
std::string ErrorText(int code);
// Whether the code is one of the table's.
bool IsKnownError(int code);

// The one exception type of the archive components: a code and its text, plus the file concerned.
class ArchiveError : public std::runtime_error {
  public:
    explicit ArchiveError(int code, std::string fileName = {}, std::string detail = {});
    int Code() const noexcept { return code_; }
    const std::string& FileName() const noexcept { return fileName_; }
    const std::string& Detail() const noexcept { return detail_; }

  private:
    int code_;
    std::string fileName_;
    std::string detail_;
};

}  // namespace varnok

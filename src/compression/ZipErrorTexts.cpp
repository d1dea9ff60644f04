// The texts of Zipper's result codes, raised as ERR_ArchiveBase + code. The
// number table takes them from the section they are placed in
// (errors/ErrorTexts.h), so the errors layer below knows nothing of zip.

#include "errors/ErrorTexts.h"
#include "quillmark/compression/Zipper.h"

namespace qm {
namespace {

// Ascending by number.
// Aligned as a lone row is, so that the linker packs the arrays of the section without gaps.
[[gnu::section("qm_error_texts"), gnu::used]] alignas(ErrorEntry) constexpr ErrorEntry kZipErrorTexts[] = {
    {ERR_ArchiveBase + ZE_Unexpected_EOF_ERR, "Unexpected EOF"},
    {ERR_ArchiveBase + ZE_Zip_Structure_ERR, "Zip structure corrupt"},
    {ERR_ArchiveBase + ZE_Out_of_memory_ERR, "Out of memory"},
    {ERR_ArchiveBase + ZE_Internal_Logic_ERR, "Internal logic failure"},
    {ERR_ArchiveBase + ZE_Entry_Too_Large_ERR, "Entry too large"},
    {ERR_ArchiveBase + ZE_Comment_Invalid_ERR, "Comment invalid"},
    {ERR_ArchiveBase + ZE_Zip_Test_Failed_ERR, "Zip test failed"},
    {ERR_ArchiveBase + ZE_Aborted, "Aborted"},
    {ERR_ArchiveBase + ZE_Temp_File_ERR, "Temp. file error"},
    {ERR_ArchiveBase + ZE_Read_ERR, "Disk read error"},
    {ERR_ArchiveBase + ZE_Nothing_To_Do_ERR, "Nothing to do - check files exist"},
    {ERR_ArchiveBase + ZE_Empty_Zip_ERR, "Empty zip file error"},
    {ERR_ArchiveBase + ZE_Write_ERR, "Disk write error - check disk is write enabled"},
    {ERR_ArchiveBase + ZE_Create_ERR, "File creation error - check disk is write enabled"},
    {ERR_ArchiveBase + ZE_Params_ERR, "Bad parameters"},
    {ERR_ArchiveBase + ZE_Open_ERR, "File open error"},
};

}  // namespace
}  // namespace qm

// The texts of Zipper's result codes, raised as ERR_ArchiveBase + code. The
// number table takes them from the section they are placed in
// (errors/ErrorTexts.h), so the errors layer below knows nothing of zip.

#include "compression/ZipErrorTexts.h"

#include "errors/ErrorTexts.h"
#include "quillmark/compression/Zipper.h"

namespace qm {
namespace {

// Where every one of these numbers is raised.
constexpr std::string_view kNote = "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text";

// Ascending by number.
// Aligned as a lone row is, so that the linker packs the arrays of the section without gaps.
[[gnu::section("qm_error_texts"), gnu::used]] alignas(ErrorRow) constexpr ErrorRow kZipErrorTexts[] = {
    {ERR_ArchiveBase + ZE_Unexpected_EOF_ERR, errc::damaged_data, "Unexpected EOF",
     "ERR_ArchiveBase + ZE_Unexpected_EOF_ERR", kNote},
    {ERR_ArchiveBase + ZE_Zip_Structure_ERR, errc::damaged_data, "Zip structure corrupt",
     "ERR_ArchiveBase + ZE_Zip_Structure_ERR", kNote},
    {ERR_ArchiveBase + ZE_Out_of_memory_ERR, errc::out_of_memory, "Out of memory",
     "ERR_ArchiveBase + ZE_Out_of_memory_ERR", kNote},
    {ERR_ArchiveBase + ZE_Internal_Logic_ERR, errc::io_error, "Internal logic failure",
     "ERR_ArchiveBase + ZE_Internal_Logic_ERR", kNote},
    {ERR_ArchiveBase + ZE_Entry_Too_Large_ERR, errc::too_large, "Entry too large",
     "ERR_ArchiveBase + ZE_Entry_Too_Large_ERR", kNote},
    {ERR_ArchiveBase + ZE_Comment_Invalid_ERR, errc::invalid_argument, "Comment invalid",
     "ERR_ArchiveBase + ZE_Comment_Invalid_ERR", kNote},
    {ERR_ArchiveBase + ZE_Zip_Test_Failed_ERR, errc::damaged_data, "Zip test failed",
     "ERR_ArchiveBase + ZE_Zip_Test_Failed_ERR", kNote},
    {ERR_ArchiveBase + ZE_Aborted, errc::cancelled, "Aborted", "ERR_ArchiveBase + ZE_Aborted", kNote},
    {ERR_ArchiveBase + ZE_Temp_File_ERR, errc::io_error, "Temp. file error", "ERR_ArchiveBase + ZE_Temp_File_ERR",
     kNote},
    {ERR_ArchiveBase + ZE_Read_ERR, errc::io_error, "Disk read error", "ERR_ArchiveBase + ZE_Read_ERR", kNote},
    {ERR_ArchiveBase + ZE_Nothing_To_Do_ERR, errc::not_found, "Nothing to do - check files exist",
     "ERR_ArchiveBase + ZE_Nothing_To_Do_ERR", kNote},
    {ERR_ArchiveBase + ZE_Empty_Zip_ERR, errc::invalid_argument, "Empty zip file error",
     "ERR_ArchiveBase + ZE_Empty_Zip_ERR", kNote},
    {ERR_ArchiveBase + ZE_Write_ERR, errc::io_error, "Disk write error - check disk is write enabled",
     "ERR_ArchiveBase + ZE_Write_ERR", kNote},
    {ERR_ArchiveBase + ZE_Create_ERR, errc::io_error, "File creation error - check disk is write enabled",
     "ERR_ArchiveBase + ZE_Create_ERR", kNote},
    {ERR_ArchiveBase + ZE_Params_ERR, errc::invalid_argument, "Bad parameters", "ERR_ArchiveBase + ZE_Params_ERR",
     kNote},
    {ERR_ArchiveBase + ZE_Open_ERR, errc::io_error, "File open error", "ERR_ArchiveBase + ZE_Open_ERR", kNote},
};

}  // namespace
}  // namespace qm

extern "C" const char qm_zip_error_texts_anchor = 0;

// The ks message table: texts of library start-up and the installation
// directories, the option scanner, hash tables, compression and the file
// layer. Catalog numbers 29 to 35 belong to retired messages and stay
// unused so that existing catalogs keep their keys.

#include <orvexks/ks_product.h>

#include "internal/msg_tables.h"
#include "startup/ks_msgs.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 2, "Unexpected error in hash package.\n"},
    {1, 3, "hash_str_free on a hash table with copied keys. Memory leak.\n"},
    {2, 4, "Operation %s: %s\n"},
    {3, 5, "Operation %s, %s: %s\n"},
    {4, 6, "Unable to open %s: %s\n"},
    {5, 7, "Unable to read file \"%s\": %s.\n"},
    {6, 8, "%s: %s\n"},
    {7, 9, "Could not get an absolute pathname for \"%s\".\n"},
    {8, 10, "\001\0011BThis product is not installed correctly.\001\0010B\n"},
    {9, 11, "Can't find host data directory, tried: \"%s\".\n"},
    {10, 12,
     "File \"%s\" is larger than 2GB and cannot be handled by Quillmere.\n"},
    {11, 13,
     "Unexpected size difference while comparing files \"%s\" and \"%s\"\n"},
    {12, 14,
     "Internal error: fileutl_make_unique_pn: bad suffix control value '%d'\n"},
    {13, 15, "Bad format number for \"%s\"\n"},
    {14, 16,
     "The BRKD server on host \"%s\" must be updated to be\ncompatible with "
     "this product version.\n"},
    {15, 17, "Unable to allocate storage.\n"},
    {16, 18, "%s copy %.f%% complete.\n"},
    {17, 19, "unlink( %s )\n"},
    {18, 20, "cp_file( %s, %s, %o )\n"},
    {19, 21, "Bad option"},
    {20, 22, "Duplicate or conflicting option"},
    {21, 23, "Bad argument"},
    {22, 24, "Unknown error"},
    {23, 25, "Out of memory"},
    {24, 26, "mkdir( %s, %o ) from %s\n"},
    {25, 27, "fileutl_cp_sd: GetFileSecurity() failed - %d\n"},
    {26, 28, "fileutl_cp_sd: SetFileSecurity() failed - %d\n"},
    {27, 36, "The application will exit ... "},
    {28, 37, "Unable to close %s: %s\n"},
    {29, 38, "Unable to create directory %s: %s\n"},
    {30, 39, "Unable to remove %s: %s\n"},
    {31, 40, "Can not find a group named \"%s\".\n"},
    {32, 41, "Unable to rename %s to %s: %s\n"},
    {33, 42, "File \"%s\" changed size during read.\n"},
    {34, 43, "Unable to write file \"%s\": %s.\n"},
    {35, 44, "Unable to get the status of %s: %s\n"},
    {36, 45, "Path name \"%s\" is too long.\n"},
    {37, 46, "Unable to lock %s: %s\n"},
    {38, 47, "Unable to unlock %s: %s\n"},
    {39, 48, "Unable to create a temporary file in %s: %s\n"},
    {40, 49, "Unable to read directory %s: %s\n"},
    {41, 50, "Unable to get the current directory: %s\n"},
    {42, 51, "Unable to change directory to %s: %s\n"},
    {43, 52, "Unable to set the mode of %s: %s\n"},
    {44, 53, "Unable to copy %s to %s: %s\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_ks_msgs, "ks", 9, 45, 2, 53, kRows);

extern "C" {

const ks_msg_table_t *ks_ks_msg_table_adr(void) { return &ksi_ks_msgs; }
const ks_msg_table_t *_ks_ks_msg_table_adr(void) { return &ksi_ks_msgs; }

}  // extern "C"

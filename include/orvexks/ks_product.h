/* Library start-up, installation directories and switches. */
#ifndef ORVEXKS_KS_PRODUCT_H
#define ORVEXKS_KS_PRODUCT_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* Size every directory routine's buffer must have at least. */
#define KS_DIR_BUF_SIZE 1024
/* Size of the buffer of liborvexks_sprint_verid. */
#define KS_VERID_BUF_SIZE 128

/* Prepares the library for the calling process: threads, the library lock,
 * the companion library, fault management, the locale and the descriptor
 * limit. Call it first, from the thread that is to run the event loop: the
 * caller becomes the attached thread. Returns 1 when this call initialised
 * the library, 0 when an earlier one had. */
KS_API int ks_system_init(void);

/* Installation directories, in Windows form, written into buf
 * (KS_DIR_BUF_SIZE bytes) and buf returned. Null arguments add nothing.
 *
 * ks_product_dir: the product directory (setting 8, default "c:\orvex"),
 * then "\" sub. ks_product_tool_dir: its "bin" directory, then "\" tool.
 * ks_product_tool_dir_quoted: the same in double quotes unless it is a
 * plain name. ks_hostdata_dir: the host-data directory (setting 16, else
 * 8, each with "\var" appended; it must exist, else the process ends with
 * status 2), then "\" sub1 and "\" sub2. ks_host_config_dir: its
 * "config" sub-directory, then "\" sub. ks_smx_product_dir: the
 * monitoring product's directory, then "\" sub; null when that product is
 * not installed. */
KS_API char *ks_product_dir(char *buf, const char *sub);
KS_API char *ks_product_tool_dir(char *buf, const char *tool);
KS_API char *ks_product_tool_dir_quoted(char *buf, const char *tool);
KS_API char *ks_hostdata_dir(char *buf, const char *sub1, const char *sub2);
KS_API char *ks_host_config_dir(char *buf, const char *sub);
KS_API char *ks_smx_product_dir(char *buf, const char *sub);

/* The connected setting (setting 25): 1 unless it reads as a value other
 * than 1. ks_set_connected stores it and returns the settings store's
 * result (0 on success). */
KS_API int ks_connected(void);
KS_API int ks_set_connected(int on);

/* Yes/no switches from the environment, each read once per process from
 * QUILL_<NAME>, or ORVEX_<NAME> when that is unset or empty: 1 or 0. The
 * setters put both variables into the environment ("1", or removed when on
 * is 0) for this process's later readers and its children; a switch this
 * process has already read keeps its value. They return 0, or 1 when the
 * environment could not be changed. */
KS_API int ks_force_gui(void);
KS_API int ks_set_force_gui(int on);
KS_API int ks_web_gui(void);
KS_API int ks_set_web_gui(int on);
KS_API int ks_cte_dynamic(void);
KS_API int ks_set_cte_dynamic(int on);
KS_API int ks_web_qmprompt(void);
KS_API int ks_set_web_qmprompt(int on);
KS_API int ks_no_bold(void);

/* Long path names need no special form here; passed to the companion
 * library, which accepts it. */
KS_API void ks_disable_long_path(void);

/* Prints the library's version line: name, version, build time, "64-bit".
 * liborvexks_sprint_verid writes the same line into buf
 * (KS_VERID_BUF_SIZE bytes) and returns buf. */
KS_API void liborvexks_print_verid(void);
KS_API char *liborvexks_sprint_verid(char *buf);

/* Exported for programs that look them up; the library never calls them.
 * PlumbexIsRunning returns 0; the other two do nothing. */
KS_API int PlumbexIsRunning(void);
KS_API void PlumbexMarkAsInitialized(void);
KS_API void PlumbexMarkAsUninitialized(void);

/* The family's message table. */
KS_API const ks_msg_table_t *ks_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_ks_ks_msg_table_adr(void);

KS_END_DECLS

#endif

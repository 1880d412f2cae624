/* Trace log operations of the Orivane library. */
#ifndef ORIVANE_TRACE_LOG_H
#define ORIVANE_TRACE_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the trace level. level > 0: opens the log file if it is not open (and
 * then writes the header) and stores the level (bit value 2 = flush after every
 * call, 4 = verbose). level 0: writes the end line and closes the file. */
void TWAIN_LogFile(int level);
/* Sets the folder of the log file (empty or null: the temporary folder),
 * keeping the name; moves an open log. 1 on success, 0 on failure. */
int TWAIN_SetLogFolder(const char* folder);
/* Sets the log file name, which may carry a folder; a name without extension
 * gets ".log". Moves an open log. 1 on success, 0 on failure. */
int TWAIN_SetLogName(const char* name);
/* Full path of the log file. The text stays valid until the next call. */
const char* TWAIN_LogFileName(void);
/* Writes "[<application title>] <text>" and a line end unless the text ends
 * in one. */
void TWAIN_WriteToLog(const char* text);

#ifdef __cplusplus
}
#endif
#endif

// The one multipage output file of the process, its lock and its background
// writer.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "fileio/file_state.h"
#include "fileio/output_files.h"
#include "orivane/dib_api.h"

namespace fileio {

// A recursive lock owned by a thread: the thread that begins a multipage
// file holds it until it ends the file; other threads wait for it. Unlike a
// plain recursive mutex, a release from a thread that does not own it is
// refused instead of undefined.
class OwnedLock {
 public:
  void acquire();
  // False when the calling thread does not hold the lock.
  bool release();
  bool held_by_me() const;
  // Frees the lock whoever holds it: a file ended by another thread than
  // the one that began it must not leave the lock held for ever.
  void force_release();

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  int owner_ = 0;  // platform thread id, 0 when free
  int count_ = 0;
};

// One page handed to the background writer: the record written into the
// pipe, whole, in native byte order.
struct QueuedPage {
  DIB_HANDLE dib;
  std::int32_t compression;  // TIFF compression for its pixel type
};

struct BackgroundWriter {
  std::thread thread;
  int read_fd = -1;
  int write_fd = -1;
  std::atomic<int> pending{0};   // pages queued and not yet written or dropped
  std::atomic<int> result{0};    // the first failing write's result
  std::atomic<bool> done{false}; // the thread has left its loop
  long queue_wait_ms = 0;        // the caller's time held back by a full queue
};

struct MultipageState {
  OwnedLock lock;
  bool open = false;
  std::string path;          // the final name
  int format = -1;           // MPF_ code of the open file
  std::atomic<int> pages{0}; // written or queued
  DIB_HANDLE merged = 0;     // the stacked image of the single-image formats
  // TIFF, PDF and DCX pages go into this temporary file (the stacked image
  // of the other formats when the file is ended); it reaches `path` only
  // when the file is ended (or committed, when held) without a failure.
  std::unique_ptr<AtomicOutput> output;
  // The claim on `path` for as long as this run reads or rewrites it.
  NameLock name_lock;
  // A finished file kept apart from `path` until it is committed or
  // discarded; while a new file continues it, the file it continues.
  std::unique_ptr<AtomicOutput> held;
  // The file under `path` is part of the one being written (an append):
  // moving it into place must replace it.
  bool replaces_final = false;
  BackgroundWriter writer;
};

MultipageState& multipage();

// Queues or writes a page. Disposition 0: a copy is written, the caller keeps
// the page; 1: the page is taken when queued or written; 2: the page is
// always taken. 0, -2, -6 or the codec's result.
int DibWritePage(DIB_HANDLE dib, int disposition);
// Writes a page into the open file now (the writer thread, or the caller
// when nothing is queued).
int DibWritePageNow(DIB_HANDLE page, int compression);
// Stacks a page under the merged image: 0, or -2 when the new image cannot
// be made.
int merged_add_page(DIB_HANDLE page);

// Background writer.
void StartBgWriter();
// Closes the queue and waits until every queued page is written.
void FinishBgWriter();
// 1 when no write is pending.
int WaitForBgWriter();
// True on the background writer's own thread.
bool in_background_writer();

// Machine memory load in percent (0 when unknown).
int memory_load_percent();

// Ends an open file without writing it and forgets everything (tests).
void multipage_reset_for_tests();

}  // namespace fileio

// Worker threads for jobs that block, such as network fetches. Every job
// starts at once on a thread of its own, named "kestrane_worker"; a worker
// whose job is done waits a few seconds for the next one before it ends, so
// bursts of jobs do not start a thread each.
#pragma once

typedef int (*OsThreadFn)(void *arg);
struct OsThread;

// Runs fn(arg) on a worker. The returned handle only identifies the job:
// the worker is detached and nothing waits for it. Null when no thread could
// be started (the job does not run).
OsThread *os_create_thread(OsThreadFn fn, void *arg);
// Frees the handle; the job, if still running, goes on.
void os_destroy_thread(OsThread *thread);

// Workers alive, and of those the ones waiting for a job.
int os_worker_count();
int os_idle_worker_count();

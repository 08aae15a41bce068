// One HTTP(S) or FTP download over several connections: ranged requests
// (FTP: REST on logins of their own) that write at their own offsets into the
// one local file, a piece plan (engine/pieces.h) that hands out the bytes and
// lets a free connection take half of the largest piece left, and the control file that lets the next
// attempt continue after a crash. The entry's worker keeps the row and the
// control file; each connection runs on a thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/session.h"
#include "platform/file.h"
#include "platform/socket.h"

namespace split {

// Most connections one download may use.
constexpr int kMostConnections = 16;

// Overrides the Split setting for this process (parcelo receive --split N);
// 0 restores the setting. Safe from any thread.
void OverrideConnections(int connections);
// Connections a split download may use now: the override or Split, 1-16.
int ConnectionsWanted();
// A new download opens its extra connections only once its first one would
// need longer than this for the rest at the rate it has shown (a fast link
// is not worth the connections); 0 opens them at once. Safe from any thread.
constexpr int kWorthSplittingMs = 2000;
void SetWorthSplittingMs(int ms);

// Reads the control file of local_file into the context (has_control) when
// Auto Resume is on and the file is there. A garbled control file counts as
// one with nothing written: the file's bytes cannot be trusted, but are not
// thrown away either. Returns the first byte to ask for (its total when all
// is written), or -1 when there is no control file to go by.
std::int64_t ReadControl(session::Context& context, const std::string& local_file);

// After a usable answer to the first request: false, the row and cause told
// ("Server copy changed"), when the answer's size or identity differs from
// the control file's. A file is continued only from the copy it began with.
bool SameCopy(const session::Context& context);

// True when the body about to be received goes over several connections:
// a control file is there, or the answer is HTTP(S) with a known size of at
// least SplitMin from a server that takes ranges (FTP: whose SIZE told it),
// and more than one connection is wanted.
bool Wanted(const session::Context& context);

// Receives the rest of the download: the first connection carries on from
// context.bytes_done with waiting bytes at the start of context.data, others
// join it. file is the local file, open for writing. Returns kSuccess after
// "Done" and the log line (the control file removed), else kFailure with the
// row and cause saying why and the control file kept for a resume.
int Run(session::Context& context, net::Socket& first, fileio::File& file, std::size_t waiting,
        const std::string& local_file);

}  // namespace split

// The local file side of a transfer: the download pump (open the local file,
// anew or at its resume point, and stream the body into it), the upload pump
// (open the local file, stream it to the socket, await the server's answer),
// and the progress reports both make on the way.
#pragma once

#include <string>

#include "engine/session.h"
#include "platform/file.h"
#include "platform/socket.h"

namespace session {

// The download pump. For FTP the body comes on data and control carries the
// final reply; for HTTP both are the one connection, and no more than the
// declared body is written. Returns kSuccess (also when the answer says the
// file is already whole: then "Done" and logged), kRedirected, or kFailure; a
// partial file stays for a later resume, and an HTTP answer that fails
// before its body leaves the local file as it was.
int ReceiveFile(Context& context, net::Socket& data, net::Socket& control,
                const std::string& local_file, bool is_http);

// True when the local file exists and another transfer (of this process or
// another) is writing it: a download of it must not start.
bool LocalFileInUse(const std::string& local_file);

// Opens the local file of an upload and takes its size as the total size,
// before anything of the transfer is sent, so that a file that cannot be read
// never reaches the server as an empty one. Returns kSuccess, or kFailure
// after "File open error".
int OpenUpload(Context& context, const std::string& local_file, fileio::File* file);

// The upload pump, on a file opened by OpenUpload. For FTP the body goes on
// data and control carries the final reply; for HTTP both are the one
// connection, and no more than the announced total size is sent. Returns
// kSuccess or kFailure.
int SendFile(Context& context, net::Socket& data, net::Socket& control, fileio::File& file,
             const std::string& local_file, bool is_http);

// The status of a local file that could not be opened: "Too many open
// files" when the process or the system holds as many as it may, else
// "File open error".
constexpr char kTooManyOpenFiles[] = "Too many open files";
const char* OpenErrorText(const fileio::File& file);

// Reports progress now when final, else at most once per kReportIntervalMs.
void ReportProgressThrottled(Context& context, bool final);

}  // namespace session

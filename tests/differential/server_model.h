// server_model.h: the CIFS server the differential driver shows the plug-in: volumes,
// connections and open files drawn from a seed, programmed into the monitoring double before
// every request, and changed by the plug-in's close calls while it runs.
#ifndef KEL2CIFS_TESTS_DIFFERENTIAL_SERVER_MODEL_H
#define KEL2CIFS_TESTS_DIFFERENTIAL_SERVER_MODEL_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "differential/texts.h"
#include "support/fake_monitoring.h"

namespace differential {

// How the monitoring double answers Ext_GetConnInfo for one connection.
enum class InfoMode { kRecord, kFailureWithRecord, kNoRecord, kFailure, kUnknown };

struct Connection {
    fake::Connection listed;  // its entry in the connection list
    std::string privileges;
    std::string loginStatus;
    std::optional<std::vector<fake::Entry>> sevDNs;
    std::optional<uint16_t> openFileCount;  // set: the record claims this many open files
    InfoMode info = InfoMode::kRecord;
};

struct Volume {
    std::string name;
    bool known = true;       // false: the library does not know it (no file listing is set)
    int fileCountSkew = 0;   // added to every record's file count: -1 hides one, +1 adds a null
    bool nullEntry = false;  // a null path inside the first record's names
};

struct OpenFile {
    std::size_t volume;   // index into volumes
    uint16_t connNumber;  // the connections holding it: every one with this number
    std::string path;
};

// Failures of one request's listings, drawn anew before it.
struct Faults {
    bool noVolumes = false;  // the volume listing succeeds with no volume
    bool noConnections = false;
    int volumeStatus = 0;
    std::optional<int> volumeCount;
    int connectionStatus = 0;
    std::optional<int> connectionCount;
    std::optional<std::size_t> failingVolume;  // its file listing fails
    std::optional<int> fileCount;              // of every file listing
};

class ServerModel {
  public:
    explicit ServerModel(Rng rng);

    // Between requests: files are opened, connections come and go. Returns a line for each
    // change, for the transcript.
    std::vector<std::string> Evolve(Rng &rng);
    void DrawFaults(Rng &rng);

    // Sets every listing of the monitoring double from the model.
    void Program() const;
    // Carries out a close call of the plug-in and gives its result: the files go away, unless
    // the server refuses (then nothing changes).
    int Close(const fake::CloseCall &call);

    const std::vector<Volume> &volumes() const { return volumes_; }
    const std::vector<Connection> &connections() const { return connections_; }
    const std::vector<OpenFile> &files() const { return files_; }
    // A path of an open file, an old one, or a new one.
    std::string SomePath(Rng &rng) const;

  private:
    Connection NewConnection(Rng &rng);
    std::vector<fake::VolumeFiles> FilesOf(std::size_t volume) const;
    fake::ConnInfo InfoOf(const Connection &connection) const;

    Rng refusals_;  // drawn only by Close, so the same close calls get the same results
    std::vector<Volume> volumes_;
    std::vector<std::string> listedVolumes_;  // the volume listing: names, a duplicate, a stray
    std::vector<Connection> connections_;
    std::vector<OpenFile> files_;
    std::vector<std::string> closedPaths_;
    Faults faults_;
};

}  // namespace differential

#endif  // KEL2CIFS_TESTS_DIFFERENTIAL_SERVER_MODEL_H

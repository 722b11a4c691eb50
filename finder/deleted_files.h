// Deleted files found through their entries: which clusters each one owns,
// and whether its bytes are still the file its entry describes.
//
// A chain the card still holds is taken as it stands, a file written in one
// run (exFAT NoFatChain) as that run. A FAT file whose chain is gone is
// placed by the way FAT writes: from its start cluster, the next clusters no
// other file claims (not a live file's or folder's, not another deleted
// file's start or the clusters placed for it). Files are placed from the one
// that starts last on the card to the one that starts first, so each finds
// the files after it already placed, whatever order their entries were met
// in. Two files starting at the same cluster are placed alike and then judged.
//
// The content then decides: a JPEG must start (SOI) at its first cluster and
// end (EOI) where its size ends, a clip's boxes must add up to its size. A
// JPEG that does not fit is tried again with only the live files' clusters
// left out (its own data may lie where another deleted file started before
// it was written), then rebuilt piece by piece (ReassembleJpeg); a picture
// put together from pieces must also decode clean. Two pictures still not
// confirmed, one starting inside the other's extent, are tried as written at
// the same time: runs as long as the distance between their starts, in turn;
// each that then decodes clean to its end with libjpeg takes those clusters
// (libjpeg rarely warns inside foreign scan data, so only a decode that ends
// where the size does confirms a guess). Where two files claim a
// cluster, the one whose content fits keeps it, else the newer one (it was
// written over the other), and the other is overwritten. A guess the content
// cannot confirm is shown as fragmented, never as good.
#pragma once

#include <vector>

#include "finder/search_session.h"

namespace veld {

// Holds the file while the session holds deleted files (the directory
// passes), else registers it at once with what the map says of the others.
void HoldOrRegister(SearchSession& session, PendingFile file);

// Decides the clusters and state of the files and registers them, in the
// order given.
void RegisterDeletedFiles(SearchSession& session, std::vector<PendingFile> files);

// Registers what the session held back (and stops holding).
void RegisterHeldFiles(SearchSession& session);

// After the signature search: a file found through its entry whose content
// nothing could check, and whose first cluster lies inside another found
// file whose bytes are confirmed (not at that file's start), is overwritten.
void SettleOverwrittenStarts(SearchSession& session);

}  // namespace veld

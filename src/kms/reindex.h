// Writing an index again in the current term scheme from what its documents store (see
// IndexWriter::Rebuild). Each document is rebuilt as the engine would build it from the same
// fields: the stored values of the fields it had terms of, in the order they were added, so that
// positions come out as they would for a new insert; its keys, batch terms, values and data are
// kept as they are.
#ifndef TOMEVA_KMS_REINDEX_H_
#define TOMEVA_KMS_REINDEX_H_

#include <xapian.h>

#include <stdexcept>
#include <string>

#include "kms/field_registry.h"

namespace tomeva::kms {

// A document that cannot be written again from its stored fields; the message (UTF-8) names the
// document and the field.
class RebuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The document `old` (document id `id`, for messages) of an index whose field table is `fields`,
// with its text fields' terms written in `scheme`. Throws RebuildError as described above.
Xapian::Document RebuildDocument(const Xapian::Document& old, Xapian::docid id,
                                 const FieldRegistry& fields, TermScheme scheme);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_REINDEX_H_

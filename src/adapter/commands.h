#pragma once

#include "adapter/contract.h"
#include "adapter/request.h"

namespace telmora::adapter {

// One function per command line of the contract; each prints the contract's output and
// gives the exit status.
int authLogin(const Request& request, const Contract& out);
int authInfo(const Request& request, const Contract& out);
int authRevoke(const Request& request, const Contract& out);
int kbsync(const Request& request, const Contract& out);
int search(const Request& request, const Contract& out);
int listPurchases(const Request& request, const Contract& out);
int listVersions(const Request& request, const Contract& out);
int versionMetadata(const Request& request, const Contract& out);
int purchase(const Request& request, const Contract& out);
int download(const Request& request, const Contract& out);

} // namespace telmora::adapter

#include "signin/sign_in_board_win.h"

#include <cstdlib>

#include "signin/token_limits.h"
#include "text/bounded_text.h"

namespace {

// A token this close to its end is not sent again: the check could outlive
// it. A short-lived token keeps the last quarter of its life as its margin.
DWORD ExpiryMarginMs(DWORD lifetimeMs) {
    const DWORD minute = 60 * 1000;
    return lifetimeMs >= 4 * minute ? minute : lifetimeMs / 4;
}

void WipeToken(AccountSignIn* account) {
    if (!account->accessToken)
        return;
    SecureZeroMemory(account->accessToken, kMaxTokenSize);
    free(account->accessToken);
    account->accessToken = nullptr;
}

class BoardLock {
  public:
    explicit BoardLock(SignInBoard* board) : board_(board) { EnterCriticalSection(&board_->lock); }
    ~BoardLock() { LeaveCriticalSection(&board_->lock); }
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

  private:
    SignInBoard* board_;
};

}  // namespace

SignInBoard* MakeSignInBoard(const DockletInstance* instance) {
    bool any = false;
    for (int32_t i = 0; i < instance->accountCount; ++i)
        any = any || instance->accounts[i].auth == kAuthOAuth2;
    if (!any)
        return nullptr;
    SignInBoard* board = static_cast<SignInBoard*>(calloc(1, sizeof(SignInBoard)));
    if (!board)
        return nullptr;
    board->accounts = static_cast<AccountSignIn*>(calloc(instance->accountCount, sizeof(AccountSignIn)));
    board->tokenMutex = CreateMutexA(nullptr, FALSE, nullptr);
    board->reopenEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!board->accounts || !board->tokenMutex || !board->reopenEvent) {
        if (board->tokenMutex)
            CloseHandle(board->tokenMutex);
        if (board->reopenEvent)
            CloseHandle(board->reopenEvent);
        free(board->accounts);
        free(board);
        return nullptr;
    }
    board->count = instance->accountCount;
    InitializeCriticalSection(&board->lock);
    return board;
}

void FreeSignInBoard(SignInBoard* board) {
    if (!board)
        return;
    for (int32_t i = 0; i < board->count; ++i)
        WipeToken(&board->accounts[i]);
    free(board->accounts);
    CloseHandle(board->tokenMutex);
    CloseHandle(board->reopenEvent);
    DeleteCriticalSection(&board->lock);
    free(board);
}

bool AnyAccountWaiting(SignInBoard* board) { return FirstWaitingAccount(board) >= 0; }

int32_t FirstWaitingAccount(SignInBoard* board) {
    if (!board)
        return -1;
    BoardLock lock(board);
    for (int32_t i = 0; i < board->count; ++i) {
        if (board->accounts[i].waiting)
            return i;
    }
    return -1;
}

bool AccountWaiting(SignInBoard* board, int32_t account) {
    BoardLock lock(board);
    return board->accounts[account].waiting;
}

void SetAccountWaiting(SignInBoard* board, int32_t account, bool waiting) {
    BoardLock lock(board);
    board->accounts[account].waiting = waiting;
}

bool TakeAccessToken(SignInBoard* board, int32_t account, char* token, size_t size) {
    BoardLock lock(board);
    const AccountSignIn& kept = board->accounts[account];
    if (!kept.accessToken || GetTickCount() - kept.obtainedTick >= kept.lifetimeMs - ExpiryMarginMs(kept.lifetimeMs))
        return false;
    return CopyText(token, size, kept.accessToken);
}

void KeepAccessToken(SignInBoard* board, int32_t account, const char* token, uint32_t lifetimeSeconds) {
    BoardLock lock(board);
    AccountSignIn* kept = &board->accounts[account];
    if (!kept->accessToken)
        kept->accessToken = static_cast<char*>(malloc(kMaxTokenSize));
    if (!kept->accessToken)
        return;
    CopyText(kept->accessToken, kMaxTokenSize, token);
    kept->obtainedTick = GetTickCount();
    // A day at most (the token reply's judge holds it there), so no overflow.
    kept->lifetimeMs = lifetimeSeconds * 1000u;
    kept->waiting = false;
    kept->signedInElsewhere[0] = '\0';
}

void ForgetAccessToken(SignInBoard* board, int32_t account) {
    BoardLock lock(board);
    WipeToken(&board->accounts[account]);
}

bool TokenUnproven(SignInBoard* board, int32_t account) {
    BoardLock lock(board);
    return board->accounts[account].unproven;
}

void SetTokenUnproven(SignInBoard* board, int32_t account, bool unproven) {
    BoardLock lock(board);
    board->accounts[account].unproven = unproven;
}

void KeepSignedInElsewhere(SignInBoard* board, int32_t account, const char* who) {
    BoardLock lock(board);
    AccountSignIn* kept = &board->accounts[account];
    WipeToken(kept);
    kept->waiting = false;
    kept->unproven = false;
    CopyText(kept->signedInElsewhere, sizeof kept->signedInElsewhere, who);
}

bool SignedInElsewhere(SignInBoard* board, int32_t account, char* who, size_t size) {
    BoardLock lock(board);
    const AccountSignIn& kept = board->accounts[account];
    return kept.signedInElsewhere[0] != '\0' && CopyText(who, size, kept.signedInElsewhere);
}

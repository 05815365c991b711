// What the page knows of the server's own tables: the codes of its refusals, the limits of its
// requests, the times of its changes and sign-ins. Each such value is here and nowhere else in
// the page, beside the server's name for it, so that one module follows the server.

// Codes of the gateway's refusals (ErrorCode, src/server/http_error.hpp).
export const INVALID_PASSWORD = 23009; // InvalidPassword: a wrong password at sign-in
export const INVALID_TOKEN = 23010; // InvalidAuthToken: not one of this server's tokens
export const PASSWORD_MISMATCH = 24004; // PasswordMismatch, also the answer for an unknown user
export const STALE = 24005; // StaleBase: the file is no longer the one a change was based on
export const EXPIRED_TOKEN = 27002; // ExpiredAuthToken
export const INSUFFICIENT_RIGHTS = 28002; // InsufficientAccessRight
export const BUSY = 28003; // SessionAlreadyEstablished: another change is under way

export const MAX_REQUEST_BYTES = 4096; // limits::kMaxRequestBody: the longest body it reads
export const UPLOAD_ID_DIGITS = 32; // StagedTexts: an upload's id, in hexadecimal digits
export const MAX_UPLOAD_BYTES = 1 << 20; // StagedTexts::kMaxBytes: the most a text in pieces holds

export const DEFAULT_SETTLE_SECONDS = 15; // kDefaultSettleSeconds: the watch after a change
export const MAX_SETTLE_SECONDS = 120; // kMaxSettleSeconds: the longest watch a change may ask for

export const FACTORY_PASSWORD = 'quilm'; // kAdminInitialPassword: the administrator's on a new gateway
export const TOKEN_LIFETIME_HOURS = 12; // TokenKeys::kLifetime: how long a sign-in lasts
export const FAILURES_BEFORE_SLOW = 5; // SignInThrottle::kFailuresBeforeHold
export const FAILURE_WINDOW_MS = 15 * 60 * 1000; // SignInThrottle::kFailureWindow
export const SIGN_IN_HOLD_MS = 1000; // SignInThrottle::kHold: how long a slowed sign-in is held

export const MAX_LOG_LINES = 2000; // gateway/logs' kMaxLines: the most lines of one answer
export const MAX_SCANNED_LINES = 50_000; // gateway/logs' kMaxScanned: the lines searched for a phrase
export const HISTORY_VERSIONS_KEPT = 50; // ConfigHistory::kKept
export const AUDIT_ROWS_KEPT = 10_000; // kAuditRowsKept

#!/usr/bin/env node
// A strict S3 front for the upload tests. Every request is checked before it reaches the test store
// behind it: the AWS Signature Version 4 is computed again over exactly the headers received (a
// signed header that is absent, a wrong region, key, secret or session token is refused, as S3
// refuses them), and a body is checked against its Content-MD5 and x-amz-content-sha256. A fault
// plan makes the front answer as a busy or broken network, a proxy or a broken store would. Each
// request is logged as a JSON line for the tests to read.
//
// node s3-verifier.js --port P --backend PORT --bucket B --region R --access-key K --secret-key S
//                     [--session-token T] [--tls-cert F --tls-key F] [--plan FILE] [--log FILE]
//                     [--store-dir DIR]
// The test store has no AbortMultipartUpload; the front does it on the store's directory (DIR).
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const https = require('https');

const options = {};
for (let i = 2; i < process.argv.length; i += 2) {
  options[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
}

const UNSIGNED = 'UNSIGNED-PAYLOAD';
const SKEW_MS = 15 * 60 * 1000;

function sha256(data) {
  return crypto.createHash('sha256').update(data).digest('hex');
}
function hmac(key, data) {
  return crypto.createHmac('sha256', key).update(data).digest();
}
// The encoding S3 signs: every byte but the unreserved ones, upper-case hexadecimal.
function encode(text, keepSlash) {
  let out = '';
  for (const byte of Buffer.from(text, 'utf8')) {
    const c = String.fromCharCode(byte);
    if (/[A-Za-z0-9\-_.~]/.test(c) || (keepSlash && c === '/')) out += c;
    else out += '%' + byte.toString(16).toUpperCase().padStart(2, '0');
  }
  return out;
}
function decode(text) {
  try {
    return decodeURIComponent(text);
  } catch (e) {
    return null;
  }
}

function s3Error(res, status, code, message, extra = {}, region = null) {
  const body = `<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>${code}</Code>` +
               `<Message>${message}</Message>` + (region ? `<Region>${region}</Region>` : '') + '</Error>';
  res.writeHead(status, { 'Content-Type': 'application/xml', 'Content-Length': Buffer.byteLength(body),
                          Connection: 'close', ...extra });
  res.end(body);
}

// Where a request goes: the bucket from the host name (virtual addressing) or the path.
function target(req) {
  const raw = req.url;
  const question = raw.indexOf('?');
  const rawPath = question < 0 ? raw : raw.slice(0, question);
  const rawQuery = question < 0 ? '' : raw.slice(question + 1);
  const host = (req.headers.host || '').split(':')[0];
  let bucket, keyPath;
  if (host.startsWith(options.bucket + '.')) {
    bucket = options.bucket;
    keyPath = rawPath.slice(1);
  } else {
    const slash = rawPath.indexOf('/', 1);
    bucket = decode(slash < 0 ? rawPath.slice(1) : rawPath.slice(1, slash));
    keyPath = slash < 0 ? '' : rawPath.slice(slash + 1);
  }
  const key = decode(keyPath);
  const query = rawQuery === '' ? [] : rawQuery.split('&').map((pair) => {
    const eq = pair.indexOf('=');
    return eq < 0 ? [decode(pair), ''] : [decode(pair.slice(0, eq)), decode(pair.slice(eq + 1))];
  });
  return { rawPath, rawQuery, bucket, key, query, virtual: host.startsWith(options.bucket + '.') };
}

// Checks what can be checked before the body: the signature over the headers as received.
function checkSignature(req, t) {
  const auth = req.headers.authorization;
  if (!auth) return { status: 403, code: 'AccessDenied', message: 'Anonymous access is not allowed' };
  const match = /^AWS4-HMAC-SHA256 Credential=([^/]+)\/(\d{8})\/([^/]+)\/s3\/aws4_request, ?SignedHeaders=([a-z0-9;\-]+), ?Signature=([0-9a-f]{64})$/.exec(auth);
  if (!match) return { status: 400, code: 'AuthorizationHeaderMalformed', message: 'The authorization header is malformed' };
  const [, accessKey, date, region, signedList, signature] = match;
  if (accessKey !== options['access-key'])
    return { status: 403, code: 'InvalidAccessKeyId', message: 'The AWS Access Key Id you provided does not exist in our records.' };
  if (region !== options.region)
    return { status: 400, code: 'AuthorizationHeaderMalformed', message: `the region '${region}' is wrong; expecting '${options.region}'` };
  const signed = signedList.split(';');
  for (const required of ['host', 'x-amz-date', 'x-amz-content-sha256'])
    if (!signed.includes(required)) return { status: 403, code: 'AccessDenied', message: `${required} must be signed` };
  // Every header the client says it signed must have arrived.
  const received = {};
  for (let i = 0; i < req.rawHeaders.length; i += 2) {
    const name = req.rawHeaders[i].toLowerCase();
    const value = req.rawHeaders[i + 1].trim().replace(/\s+/g, ' ');
    received[name] = received[name] === undefined ? value : received[name] + ',' + value;
  }
  for (const name of signed)
    if (received[name] === undefined)
      return { status: 403, code: 'SignatureDoesNotMatch', message: `signed header ${name} was not sent` };
  if (options['session-token'] !== undefined) {
    if (!signed.includes('x-amz-security-token') || received['x-amz-security-token'] !== options['session-token'])
      return { status: 403, code: 'InvalidToken', message: 'The provided token is malformed or otherwise invalid.' };
  }
  const amzDate = received['x-amz-date'];
  if (!/^\d{8}T\d{6}Z$/.test(amzDate) || amzDate.slice(0, 8) !== date)
    return { status: 403, code: 'SignatureDoesNotMatch', message: 'x-amz-date does not match the credential date' };
  const when = Date.UTC(+amzDate.slice(0, 4), +amzDate.slice(4, 6) - 1, +amzDate.slice(6, 8),
                        +amzDate.slice(9, 11), +amzDate.slice(11, 13), +amzDate.slice(13, 15));
  if (Math.abs(Date.now() - when) > SKEW_MS)
    return { status: 403, code: 'RequestTimeTooSkewed', message: 'The difference between the request time and the current time is too large.' };

  const path = t.rawPath.split('/').map((segment) => {
    const decoded = decode(segment);
    return decoded === null ? segment : encode(decoded, false);
  }).join('/');
  const query = t.query.map(([n, v]) => [encode(n || '', false), encode(v || '', false)])
    .sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : a[1] < b[1] ? -1 : 1))
    .map(([n, v]) => `${n}=${v}`).join('&');
  const headers = signed.map((name) => `${name}:${received[name]}\n`).join('');
  const canonical = [req.method, path, query, headers, signedList, received['x-amz-content-sha256']].join('\n');
  const scope = `${date}/${region}/s3/aws4_request`;
  const toSign = ['AWS4-HMAC-SHA256', amzDate, scope, sha256(canonical)].join('\n');
  let key = hmac('AWS4' + options['secret-key'], date);
  for (const part of [region, 's3', 'aws4_request']) key = hmac(key, part);
  const expected = hmac(key, toSign).toString('hex');
  if (expected !== signature)
    return { status: 403, code: 'SignatureDoesNotMatch', message: 'The request signature we calculated does not match the signature you provided.' };
  return null;
}

// CRC-32 (the polynomial of zlib and of S3's x-amz-checksum-crc32), by table.
const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32Base64(body) {
  const zlib = require('zlib');
  if (zlib.crc32) {
    const fast = Buffer.alloc(4);
    fast.writeUInt32BE(zlib.crc32(body) >>> 0);
    return fast.toString('base64');
  }
  let crc = 0xffffffff;
  for (const byte of body) crc = crcTable[(crc ^ byte) & 0xff] ^ (crc >>> 8);
  const out = Buffer.alloc(4);
  out.writeUInt32BE((crc ^ 0xffffffff) >>> 0);
  return out.toString('base64');
}

function checkBody(req, body) {
  const declared = req.headers['x-amz-content-sha256'];
  if (declared !== UNSIGNED && declared !== sha256(body))
    return { status: 400, code: 'XAmzContentSHA256Mismatch', message: 'The provided x-amz-content-sha256 header does not match what was computed.' };
  const md5 = req.headers['content-md5'];
  if (md5 !== undefined && md5 !== crypto.createHash('md5').update(body).digest('base64'))
    return { status: 400, code: 'BadDigest', message: 'The Content-MD5 you specified did not match what we received.' };
  const crc32 = req.headers['x-amz-checksum-crc32'];
  if (crc32 !== undefined && crc32 !== crc32Base64(body))
    return { status: 400, code: 'BadDigest', message: 'The CRC32 you specified did not match the calculated checksum.' };
  return null;
}

// The fault plan: rules tried in order, each applying to the requests it matches ("method", and a
// query name such as "partNumber" or "uploads") for "times" requests after "skip" of them.
let plan = { text: null, rules: [] };
function currentPlan() {
  if (!options.plan) return [];
  let text = '[]';
  try {
    text = fs.readFileSync(options.plan, 'utf8');
  } catch (e) {
    text = '[]';
  }
  if (text !== plan.text) plan = { text, rules: JSON.parse(text || '[]').map((rule) => ({ ...rule, seen: 0 })) };
  return plan.rules;
}
function faultFor(req, t) {
  for (const rule of currentPlan()) {
    if (rule.method && rule.method !== req.method) continue;
    if (rule.query && !t.query.some(([name]) => name === rule.query)) continue;
    if (rule.partNumber && !t.query.some(([name, value]) => name === 'partNumber' && value === String(rule.partNumber))) continue;
    rule.seen++;
    if (rule.seen <= (rule.skip || 0)) continue;
    if (rule.times !== undefined && rule.seen > (rule.skip || 0) + rule.times) continue;
    return rule;
  }
  return null;
}

function record(entry) {
  if (options.log) fs.appendFileSync(options.log, JSON.stringify(entry) + '\n');
}

// The test store resolves "." and ".." in keys on its own disk; S3 keeps them as written. They go
// to it escaped, so that the key stored is the key sent.
function backendPath(t) {
  const segments = t.key === '' ? [] : t.key.split('/');
  const key = segments.map((s) => (s === '.' || s === '..' ? encode(encode(s, false).replace(/\./g, '%2E'), false) : encode(s, false))).join('/');
  return '/' + encode(t.bucket, false) + (t.key === '' && !t.rawPath.endsWith('/') ? '' : '/' + key) + (t.rawQuery ? '?' + t.rawQuery : '');
}

function abortUpload(res, t, entry) {
  const uploadId = t.query.find(([name]) => name === 'uploadId')[1];
  const directory = `${options['store-dir']}/${t.bucket}/._S3rver_uploads/${uploadId}`;
  if (!/^[0-9a-f]+$/.test(uploadId) || !fs.existsSync(directory)) {
    entry.status = 404;
    record(entry);
    return s3Error(res, 404, 'NoSuchUpload', 'The specified multipart upload does not exist.');
  }
  fs.rmSync(directory, { recursive: true, force: true });
  entry.status = 204;
  record(entry);
  res.writeHead(204);
  res.end();
}

function forward(req, res, t, body, fault, entry) {
  const headers = { ...req.headers, host: `127.0.0.1:${options.backend}`, 'content-length': body.length };
  // The front has checked the signature; the store behind it is asked as an anonymous client.
  for (const name of ['expect', 'authorization', 'x-amz-date', 'x-amz-security-token', 'x-amz-content-sha256'])
    delete headers[name];
  const upstream = http.request({ host: '127.0.0.1', port: +options.backend, method: req.method,
                                  path: backendPath(t), headers }, (answer) => {
    const answerHeaders = { ...answer.headers };
    if (fault && fault.etag && answerHeaders.etag) answerHeaders.etag = `"${fault.etag}"`;
    entry.status = answer.statusCode;
    record(entry);
    res.writeHead(answer.statusCode, answerHeaders);
    answer.pipe(res);
  });
  upstream.on('error', () => s3Error(res, 502, 'InternalError', 'the test store did not answer'));
  upstream.end(body);
}

// An error answer that does not end: the store's error, then filler for as long as the client reads
// (up to 4 GiB, so that a client that never stops reading is seen failing, not waiting for ever).
function endlessError(res, fault) {
  res.writeHead(fault.status, { 'Content-Type': 'application/xml', Connection: 'close' });
  res.write(`<Error><Code>${fault.code || 'InternalError'}</Code></Error>`);
  const filler = Buffer.alloc(64 * 1024, 'x');
  let left = 65536;
  const more = () => {
    while (!res.destroyed && left > 0 && res.write(filler)) left--;
    if (left === 0) res.end();
  };
  res.on('drain', more);
  res.on('error', () => {});
  more();
}

function handle(req, res, headerVerdict) {
  const t = target(req);
  const entry = {
    method: req.method, rawPath: t.rawPath, bucket: t.bucket, key: t.key, query: Object.fromEntries(t.query),
    virtual: t.virtual, host: req.headers.host, contentMd5: req.headers['content-md5'] || null,
    checksumCrc32: req.headers['x-amz-checksum-crc32'] || null,
    contentType: req.headers['content-type'] || null, userAgent: req.headers['user-agent'] || null,
    securityToken: req.headers['x-amz-security-token'] !== undefined, expect: req.headers.expect || null,
    payloadHash: req.headers['x-amz-content-sha256'] || null,
  };
  const refuse = (verdict) => {
    entry.status = verdict.status;
    entry.refused = verdict.code;
    record(entry);
    s3Error(res, verdict.status, verdict.code, verdict.message);
  };
  const verdict = headerVerdict === undefined ? checkSignature(req, t) : headerVerdict;
  if (verdict) {
    req.resume();
    return refuse(verdict);
  }
  const fault = faultFor(req, t);
  if (fault) entry.fault = fault.name || true;
  const chunks = [];
  let seen = 0;
  const started = Date.now();
  req.on('data', (chunk) => {
    chunks.push(chunk);
    seen += chunk.length;
    if (!fault) return;
    if (fault.closeAfter !== undefined && seen >= fault.closeAfter) {
      entry.status = 0;
      entry.closed = true;
      record(entry);
      req.socket.destroy();
    } else if (fault.stallAfter !== undefined && seen >= fault.stallAfter) {
      // Takes nothing more and answers nothing: the connection stays open until the client leaves.
      if (!entry.stalled) {
        entry.stalled = true;
        entry.status = 0;
        record(entry);
      }
      req.pause();
    } else if (fault.bytesPerSecond) {
      const due = started + (seen / fault.bytesPerSecond) * 1000;
      if (due > Date.now()) {
        req.pause();
        setTimeout(() => req.resume(), due - Date.now());
      }
    }
  });
  req.on('end', () => {
    if (entry.closed || entry.stalled) return;
    const body = Buffer.concat(chunks);
    entry.bytes = body.length;
    // A body damaged on the way: one bit changed before the store sees it.
    if (fault && fault.damage && body.length > 0) body[body.length >> 1] ^= 0x10;
    const bodyVerdict = checkBody(req, body);
    if (bodyVerdict) return refuse(bodyVerdict);
    if (req.method === 'DELETE' && t.query.some(([name]) => name === 'uploadId')) return abortUpload(res, t, entry);
    if (fault && fault.trickleAnswer) {
      // An answer that never ends: a few bytes at a time, trickleAnswer bytes a second, for as long
      // as the client listens.
      entry.status = 200;
      entry.trickled = true;
      record(entry);
      res.writeHead(200, { 'Content-Type': 'application/xml' });
      const timer = setInterval(() => res.write(' '.repeat(Math.max(1, fault.trickleAnswer / 10))), 100);
      res.on('close', () => clearInterval(timer));
      return;
    }
    if (fault && fault.status) {
      entry.status = fault.status;
      record(entry);
      if (fault.bare) {
        // A status alone, as a proxy in front of a store answers.
        res.writeHead(fault.status, { 'Content-Length': 0, Connection: 'close' });
        return res.end();
      }
      if (fault.endless) return endlessError(res, fault);
      const extra = fault.retryAfter ? { 'Retry-After': String(fault.retryAfter) } : {};
      if (fault.region) extra['x-amz-bucket-region'] = fault.region;
      return s3Error(res, fault.status, fault.code || 'InternalError', fault.message || 'fault plan', extra,
                     fault.region);
    }
    forward(req, res, t, body, fault, entry);
  });
}

const server = options['tls-cert']
  ? https.createServer({ cert: fs.readFileSync(options['tls-cert']), key: fs.readFileSync(options['tls-key']) })
  : http.createServer();
server.on('request', (req, res) => handle(req, res));
// A client that waits for "100 Continue" is refused before it sends a body the store would not take.
server.on('checkContinue', (req, res) => {
  const verdict = checkSignature(req, target(req));
  if (!verdict) res.writeContinue();
  handle(req, res, verdict);
});
server.keepAliveTimeout = 30000;
server.listen(+options.port, '127.0.0.1');

// The shop's phone page: paired once with a code, then speaks rows and
// texts, plays and pauses the tabs and the music. The device token stays
// in this browser and goes in the Authorization header only.
'use strict';

const TOKEN_KEY = 'parlivo-token';
const STATES = { playing: '播放中', paused: '已暂停', stopped: '已停止' };
const MODE_NAMES = { word: '文字', price: '报价', timer: '定时' };
// While the page is in view: the state, the rows and what is waiting,
// well inside the interface's limit of requests a second.
const POLL_MS = 2500;
let shownRows = '';

function $(id) { return document.getElementById(id); }

function say(text) {
  $('message').textContent = text;
}

// The interface answers refusals in English for programs; staff read them
// here in Chinese, by status and meaning.
function refusalText(status, error) {
  error = error || '';
  const number = (error.match(/(\d+)\D*$/) || [])[1]; // the limit, named last
  if (status === 429)
    return /waiting/.test(error) ? '要播报的内容已经很多，请稍后再试。' : '操作太频繁，请稍等一下再试。';
  if (status === 422 && /seconds/.test(error))
    return '文字太长，播报会超过' + number + '秒，请分几次发送。';
  if (status === 422 && /characters/.test(error))
    return '文字不能为空，最多' + number + '个字。';
  if (status === 422 && /volume/.test(error))
    return '音量要在0到100之间。';
  if (status === 403)
    return '配对码不对、已用过或已过期，请在电脑上重新生成。';
  if (status === 404)
    return /announcement/.test(error) ? '找不到这条播报。' : '找不到要操作的内容。';
  if (status === 413)
    return '内容太多，发送不了。';
  if (status === 400)
    return '发送的内容有误。';
  if (status === 500)
    return '广播电脑保存失败，请再试一次。';
  return '广播电脑拒绝了这个操作（代码' + status + '）。';
}

async function api(method, path, body) {
  const headers = { 'Authorization': 'Bearer ' + (localStorage.getItem(TOKEN_KEY) || '') };
  if (body !== undefined)
    headers['Content-Type'] = 'application/json';
  let reply;
  try {
    reply = await fetch(path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body),
                                credentials: 'omit', cache: 'no-store' });
  } catch (e) {
    throw new Error('连接不到广播电脑。');
  }
  if (reply.status === 401) {
    localStorage.removeItem(TOKEN_KEY);
    showPairing();
    say('这部手机的授权已被撤销或无效，请重新配对。');
    throw new Error('unauthorized');
  }
  const json = await reply.json().catch(() => ({}));
  if (!reply.ok)
    throw new Error(refusalText(reply.status, json.error));
  return json;
}

// An action's failure, said on the page.
function failed(what) {
  return (e) => {
    if (e.message !== 'unauthorized')
      say(what + '失败：' + e.message);
  };
}

function showPairing() {
  $('controls').hidden = true;
  $('pairing').hidden = false;
  const code = new URLSearchParams(location.hash.slice(1)).get('pair');
  if (code)
    $('pair-code').value = code;
}

async function pair() {
  const code = $('pair-code').value.trim();
  const name = $('pair-name').value.trim();
  try {
    const reply = await fetch('/api/pair', { method: 'POST', headers: { 'Content-Type': 'application/json' },
                                              body: JSON.stringify({ code, name }), credentials: 'omit' });
    const json = await reply.json().catch(() => ({}));
    if (!reply.ok || !json.token) {
      say(reply.status === 403 ? refusalText(403) : '配对失败：' + refusalText(reply.status, json.error));
      return;
    }
    localStorage.setItem(TOKEN_KEY, json.token);
    history.replaceState(null, '', location.pathname); // the used code leaves the address bar
    say('配对成功。');
    showControls();
  } catch (e) {
    say('连接不到广播电脑。');
  }
}

function showControls() {
  $('pairing').hidden = true;
  $('controls').hidden = false;
  shownRows = '';
  loadRows();
  refresh();
}

async function loadRows() {
  try {
    const list = await api('GET', '/api/lists/word');
    const texts = list.rows.map((row) => row.text).filter((text) => !/^延时.*[秒分]$/.test(text)); // a wait is nothing to tap
    if (JSON.stringify(texts) === shownRows)
      return; // unchanged: nothing redrawn under a finger
    shownRows = JSON.stringify(texts);
    const rows = $('rows');
    rows.replaceChildren();
    for (const text of texts) {
      const button = document.createElement('button');
      button.type = 'button';
      button.className = 'row';
      button.textContent = text; // text, never markup
      button.addEventListener('click', () => speak(text));
      rows.append(button);
    }
  } catch (e) {
    if (e.message !== 'unauthorized')
      say('读取文字列表失败：' + e.message);
  }
}

async function speak(text) {
  try {
    await api('POST', '/api/say', { text });
    say('已加入播报：' + text);
    refresh();
  } catch (e) {
    failed('播报')(e);
  }
}

function showVolume(volume) {
  $('music-volume-value').textContent = volume;
}

async function refresh() {
  if ($('controls').hidden)
    return;
  try {
    const status = await api('GET', '/api/status');
    $('status-speaking').textContent = status.speaking || '—';
    const waiting = $('status-waiting');
    waiting.replaceChildren();
    for (const text of status.waiting || []) {
      const item = document.createElement('li');
      item.textContent = text;
      waiting.append(item);
    }
    const active = [];
    for (const mode of ['word', 'price', 'timer']) {
      const playing = status.modes[mode] === 'playing';
      $('state-' + mode).textContent = STATES[status.modes[mode]] || '';
      for (const cell of document.querySelectorAll('.modes [data-of="' + mode + '"]'))
        cell.classList.toggle('active', playing);
      if (playing)
        active.push(MODE_NAMES[mode]);
    }
    $('active-mode').textContent = active.length ? '正在播放：' + active.join('、') : '没有在播放的模式';
    $('state-music').textContent = STATES[status.music] || '';
    if (document.activeElement !== $('music-volume')) {
      $('music-volume').value = status.musicVolume;
      showVolume(status.musicVolume);
    }
  } catch (e) {
    // An action's own failure, if it said so already, stays in view.
    if (e.message !== 'unauthorized' && !$('message').textContent.includes(e.message))
      say(e.message);
  }
}

function bind() {
  $('pair-button').addEventListener('click', pair);
  $('say-button').addEventListener('click', () => {
    const text = $('say-text').value.trim();
    if (text) {
      speak(text);
      $('say-text').value = '';
    }
  });
  for (const button of document.querySelectorAll('.modes button'))
    button.addEventListener('click', async () => {
      try {
        await api('POST', '/api/modes/' + button.dataset.mode + '/' + button.dataset.action);
        refresh();
      } catch (e) {
        failed(MODE_NAMES[button.dataset.mode] + button.textContent)(e);
      }
    });
  $('music-play').addEventListener('click', () => api('POST', '/api/music/play').then(refresh, failed('播放音乐')));
  $('music-pause').addEventListener('click', () => api('POST', '/api/music/pause').then(refresh, failed('暂停音乐')));
  $('music-volume').addEventListener('input', () => showVolume($('music-volume').value));
  $('music-volume').addEventListener('change', () =>
    api('PUT', '/api/music/volume', { volume: Number($('music-volume').value) }).then(refresh, failed('调音量')));
}

// Everything that can change on the computer, while the page is seen.
function poll() {
  if (document.visibilityState !== 'visible' || $('controls').hidden)
    return;
  refresh();
  loadRows();
}

bind();
if (localStorage.getItem(TOKEN_KEY) && !location.hash.includes('pair='))
  showControls();
else
  showPairing();
setInterval(poll, POLL_MS);
document.addEventListener('visibilitychange', poll);

// The shop's phone page: paired once with a code, then speaks rows and
// texts, plays and pauses the tabs and the music. The device token stays
// in this browser and goes in the Authorization header only.
'use strict';

const TOKEN_KEY = 'parlivo-token';
const STATES = { playing: '播放中', paused: '已暂停', stopped: '已停止' };

function $(id) { return document.getElementById(id); }

function say(text) {
  $('message').textContent = text;
}

async function api(method, path, body) {
  const headers = { 'Authorization': 'Bearer ' + (localStorage.getItem(TOKEN_KEY) || '') };
  if (body !== undefined)
    headers['Content-Type'] = 'application/json';
  const reply = await fetch(path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body),
                                    credentials: 'omit', cache: 'no-store' });
  if (reply.status === 401) {
    localStorage.removeItem(TOKEN_KEY);
    showPairing();
    say('这部手机的授权已被撤销或无效，请重新配对。');
    throw new Error('unauthorized');
  }
  const json = await reply.json().catch(() => ({}));
  if (!reply.ok)
    throw new Error(json.error || ('HTTP ' + reply.status));
  return json;
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
      say(reply.status === 403 ? '配对码不对、已用过或已过期，请在电脑上重新生成。' : '配对失败：' + (json.error || reply.status));
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
  loadRows();
  refresh();
}

async function loadRows() {
  try {
    const list = await api('GET', '/api/lists/word');
    const rows = $('rows');
    rows.replaceChildren();
    for (const row of list.rows) {
      if (/^延时.*[秒分]$/.test(row.text))
        continue; // a wait is nothing to tap
      const button = document.createElement('button');
      button.type = 'button';
      button.className = 'row';
      button.textContent = row.text; // text, never markup
      button.addEventListener('click', () => speak(row.text));
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
    if (e.message !== 'unauthorized')
      say('播报失败：' + e.message);
  }
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
    for (const mode of ['word', 'price', 'timer'])
      $('state-' + mode).textContent = STATES[status.modes[mode]] || '';
    $('state-music').textContent = STATES[status.music] || '';
    if (document.activeElement !== $('music-volume'))
      $('music-volume').value = status.musicVolume;
  } catch (e) {
    if (e.message !== 'unauthorized')
      say('连接不到广播电脑。');
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
        if (e.message !== 'unauthorized')
          say('操作失败：' + e.message);
      }
    });
  $('music-play').addEventListener('click', () => api('POST', '/api/music/play').then(refresh, () => {}));
  $('music-pause').addEventListener('click', () => api('POST', '/api/music/pause').then(refresh, () => {}));
  $('music-volume').addEventListener('change', () =>
    api('PUT', '/api/music/volume', { volume: Number($('music-volume').value) }).then(refresh, () => {}));
}

bind();
if (localStorage.getItem(TOKEN_KEY) && !location.hash.includes('pair='))
  showControls();
else
  showPairing();
setInterval(refresh, 2000);

// The page half of the bridge. Every function of window.vtl posts one request
// to the host and returns a promise that the reply with the same uuid settles.
// The host raises events by calling the functions of window.vtl.events.
window.vtl = {
  call: function (funcID, args) {
    var uuid = 'xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx'.replace(/[xy]/g, function (c) {
      var r = (Math.random() * 16) | 0;
      return (c === 'x' ? r : (r & 0x3) + 8).toString(16);
    });
    return new Promise(function (resolve, reject) {
      var listener = function (event) {
        var data = event.data;
        if (!data || data.uuid !== uuid) return;
        window.chrome.webview.removeEventListener('message', listener);
        if (data.success) resolve(data.result);
        else reject(data.result);
      };
      window.chrome.webview.addEventListener('message', listener);
      window.chrome.webview.postMessage({id: funcID, uuid: uuid, data: args});
    });
  },
  hello: function () { return this.call(10001, {}); },
  isRuntime: function () { return this.call(10002, {}); },
  dialogs: {
    openFile: function (args) { return window.vtl.call(20001, args); },
    saveFile: function (args) { return window.vtl.call(20002, args); },
    selFolder: function (args) { return window.vtl.call(20003, args); },
  },
  files: {
    fileExists: function (args) { return window.vtl.call(30001, args); },
    deleteFile: function (args) { return window.vtl.call(30002, args); },
    writeTextFile: function (args) { return window.vtl.call(30003, args); },
    extractFile: function (args) { return window.vtl.call(30004, args); },
  },
  folders: {
    dirExists: function (args) { return window.vtl.call(40001, args); },
    deleteDir: function (args) { return window.vtl.call(40002, args); },
    getTempDir: function () { return window.vtl.call(40003, {}); },
    getUserDocumentsDir: function () { return window.vtl.call(40004, {}); },
    getUserDesktopDir: function () { return window.vtl.call(40005, {}); },
    getAppExecutableDir: function () { return window.vtl.call(40006, {}); },
    getAppDataDir: function () { return window.vtl.call(40007, {}); },
  },
  app: {
    close: function () { return window.vtl.call(50001, {}); },
    inFullscreen: function () { return window.vtl.call(50002, {}); },
    enterFullscreen: function () { return window.vtl.call(50003, {}); },
    exitFullscreen: function () { return window.vtl.call(50004, {}); },
    getArgs: function () { return window.vtl.call(50005, {}); },
  },
  window: {
    getStyle: function () { return window.vtl.call(60001, {}); },
    setStyle: function (args) { return window.vtl.call(60002, args); },
    getState: function () { return window.vtl.call(60003, {}); },
    setState: function (args) { return window.vtl.call(60004, args); },
    getTitle: function () { return window.vtl.call(60005, {}); },
    setTitle: function (args) { return window.vtl.call(60006, args); },
    getZoom: function () { return window.vtl.call(60007, {}); },
    setZoom: function (args) { return window.vtl.call(60008, args); },
    getSize: function () { return window.vtl.call(60009, {}); },
    setSize: function (args) { return window.vtl.call(60010, args); },
  },
  shell: {
    execute: function (args) { return window.vtl.call(70001, args); },
    explore: function (args) { return window.vtl.call(70002, args); },
    command: function (args) { return window.vtl.call(70003, args); },
    windows: function () { return window.vtl.call(70004, {}); },
  },
  themes: {
    getTheme: function () { return window.vtl.call(80001, {}); },
    getThemes: function () { return window.vtl.call(80002, {}); },
    setTheme: function (args) { return window.vtl.call(80003, args); },
  },
  base64: {
    decodeToFile: function (args) { return window.vtl.call(90001, args); },
  },
  system: {
    logoff: function () { return window.vtl.call(11001, {}); },
    reboot: function () { return window.vtl.call(11002, {}); },
    shutdown: function () { return window.vtl.call(11003, {}); },
    notification: function (args) { return window.vtl.call(11004, args); },
  },
  mainMenu: {
    setItems: function (args) { return window.vtl.call(12001, args); },
    updateItem: function (args) { return window.vtl.call(12002, args); },
  },
  registry: {
    writeValue: function (args) { return window.vtl.call(13001, args); },
    readValue: function (args) { return window.vtl.call(13002, args); },
    valueExist: function (args) { return window.vtl.call(13003, args); },
    deleteValue: function (args) { return window.vtl.call(13004, args); },
    keyExist: function (args) { return window.vtl.call(13005, args); },
    deleteKey: function (args) { return window.vtl.call(13006, args); },
  },
  trayMenu: {
    showIcon: function () { return window.vtl.call(14001, {}); },
    hideIcon: function () { return window.vtl.call(14002, {}); },
    setItems: function (args) { return window.vtl.call(14003, args); },
    updateItem: function (args) { return window.vtl.call(14004, args); },
  },
  events: {
    onCloseQuery: function () { window.vtl.app.close(); },
    onMainMenuItemClick: function (itemId) {},
    onTrayMenuItemClick: function (itemId) {},
    onTrayIconClick: function () {},
    onNotificationClick: function (notifName) {},
  },
};

<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>Korvane</title>
<style>
  html, body { margin: 0; height: 100%; background: #0c1020; color: #e6c86e;
               font-family: "WenQuanYi Zen Hei", sans-serif; overflow: hidden; }
  p { text-align: center; margin-top: 170px; font-size: 26px; }
</style>
</head>
<body><p>正在安装游戏，请稍候……</p>
<script>
  // Load marker for scripted runs (see index.html).
  window.addEventListener("load", function () {
    new Image().src = "/micro/loaded?page=waiting&t=" + Date.now();
  });
</script>
</body>
</html>
